#include "web/operator_page.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <utility>
#include <variant>

#include "web/page_html.h"

namespace web {

namespace {

using namespace std::chrono_literals;
using station::Json;

constexpr int kConnections = 64;  // at once; beyond, a request is answered 503 at once
constexpr int kSpareThreads = 8;  // which answer those 503s
constexpr std::size_t kQueued = 4096;  // events waiting for the page's thread
constexpr std::size_t kKept = 1024;    // events a viewer may lag behind before it is dropped
constexpr std::size_t kMostRows = 10000;

struct Address {
    std::string host;
    int port = 0;
};

// "[ADDRESS:]PORT": an IPv4 address (or localhost) and a port from 0 to 65535.
std::optional<Address> ParseAddress(const std::string& text) {
    const auto number = [](std::string_view digits, int most) -> std::optional<int> {
        int value = 0;
        if (digits.empty() || digits.size() > 5) return std::nullopt;
        const auto [end, error] = std::from_chars(digits.begin(), digits.end(), value);
        if (error != std::errc() || end != digits.end() || value > most) return std::nullopt;
        return value;
    };
    Address address{"127.0.0.1", 0};
    const std::size_t colon = text.rfind(':');
    if (colon != std::string::npos) address.host = text.substr(0, colon);
    const std::optional<int> port =
        number(std::string_view(text).substr(colon == std::string::npos ? 0 : colon + 1), 65535);
    if (!port) return std::nullopt;
    address.port = *port;
    if (address.host == "localhost") return address;
    std::string_view rest = address.host;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? rest.find('.') : rest.size();
        if (dot == std::string_view::npos || !number(rest.substr(0, dot), 255)) return std::nullopt;
        rest.remove_prefix(std::min(rest.size(), dot + 1));
    }
    if (!rest.empty() || address.host.back() == '.') return std::nullopt;
    return address;
}

// The pool of connections, counted, so that the requests beyond the bound are turned away.
class CountedPool : public httplib::TaskQueue {
  public:
    explicit CountedPool(std::atomic<int>& active)
        : active_(active), pool_(kConnections + kSpareThreads) {}
    void enqueue(std::function<void()> fn) override {
        ++active_;
        pool_.enqueue([this, fn = std::move(fn)] {
            fn();
            --active_;
        });
    }
    void shutdown() override { pool_.shutdown(); }

  private:
    std::atomic<int>& active_;
    httplib::ThreadPool pool_;
};

// English where the browser puts it before Russian, or when asked; Russian otherwise.
std::string Language(const httplib::Request& request) {
    const std::string asked = request.get_param_value("lang");
    if (asked == "en" || asked == "ru") return asked;
    const std::string accepted = request.get_header_value("Accept-Language");
    for (std::size_t at = 0; at < accepted.size();) {
        std::size_t end = accepted.find(',', at);
        if (end == std::string::npos) end = accepted.size();
        std::string tag = accepted.substr(at, end - at);
        tag.erase(0, tag.find_first_not_of(' '));
        const std::string primary = tag.substr(0, tag.find_first_of("-;"));
        if (primary == "en" || primary == "ru") return primary;
        at = end + 1;
    }
    return "ru";
}

std::string Nonce() {
    std::random_device random;
    std::string nonce;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", random());
        nonce += part;
    }
    return nonce;
}

void Replace(std::string& text, std::string_view from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
}

void SendJson(httplib::Response& response, const Json& json) {
    response.set_content(json.dump(-1, ' ', false, Json::error_handler_t::replace),
                         "application/json");
}

}  // namespace

struct OperatorPage::Impl {
    using Item = std::pair<std::variant<station::Event, journal::ForwardStatus>, PageState::Clock::time_point>;

    explicit Impl(PageSettings settings) : state(std::move(settings)) {}

    template <typename What>
    void Enqueue(const What& what) {
        {
            const std::lock_guard lock(queue_mutex);
            if (queue.size() >= kQueued) {
                ++dropped;
                return;
            }
            queue.emplace_back(what, PageState::Clock::now());
        }
        queue_ready.notify_one();
    }
    void Pump();
    void Route();
    void Stream(httplib::Response& response);
    void Units(const httplib::Request& request, httplib::Response& response);

    httplib::Server server;
    std::atomic<int> active{0};
    std::thread listener, pump;
    std::string url, journal_path;

    std::mutex queue_mutex;
    std::condition_variable queue_ready;
    std::deque<Item> queue;
    bool closing = false;
    std::atomic<long> dropped{0};

    std::mutex state_mutex;
    std::condition_variable published;
    PageState state;
    long last_id = 0;
    std::deque<std::string> kept;  // the last events as sent, the newest `last_id`
    bool ended = false;

    std::mutex journal_mutex;
    std::unique_ptr<journal::Journal> reader;
};

void OperatorPage::Impl::Pump() {
    for (;;) {
        std::deque<Item> batch;
        {
            std::unique_lock lock(queue_mutex);
            queue_ready.wait(lock, [this] { return !queue.empty() || closing; });
            if (queue.empty()) return;
            batch.swap(queue);
        }
        {
            const std::lock_guard lock(state_mutex);
            for (const auto& [what, at] : batch) {
                const Json json = std::visit(
                    [this, at = at](const auto& value) {
                        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, station::Event>) {
                            return state.Apply(value, at);
                        } else {
                            return state.Apply(value);
                        }
                    },
                    what);
                kept.push_back("id: " + std::to_string(++last_id) + "\ndata: " +
                               json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n\n");
                if (kept.size() > kKept) kept.pop_front();
            }
        }
        published.notify_all();
    }
}

// Every viewer first gets the whole state, then each event; one that falls further behind than
// the events kept, or stops taking them, is dropped, and its browser reconnects for the state.
void OperatorPage::Impl::Stream(httplib::Response& response) {
    response.set_header("Cache-Control", "no-store");
    auto cursor = std::make_shared<long>(-1);
    response.set_chunked_content_provider(
        "text/event-stream", [this, cursor](std::size_t, httplib::DataSink& sink) {
            std::string out;
            {
                std::unique_lock lock(state_mutex);
                if (*cursor < 0) {
                    *cursor = last_id;
                    out = "retry: 1000\nid: " + std::to_string(last_id) + "\nevent: state\ndata: " +
                          state.State().dump(-1, ' ', false, Json::error_handler_t::replace) +
                          "\n\n";
                } else {
                    published.wait_for(lock, 1s, [&] { return ended || last_id > *cursor; });
                    if (last_id > *cursor) {
                        const long oldest = last_id - static_cast<long>(kept.size()) + 1;
                        if (*cursor + 1 < oldest) return false;
                        for (long id = *cursor + 1; id <= last_id; ++id) {
                            out += kept[static_cast<std::size_t>(id - oldest)];
                        }
                        *cursor = last_id;
                    } else if (ended) {
                        sink.done();
                        return true;
                    } else {
                        // A viewer that has gone fails the second write after it: its
                        // connection is freed within seconds.
                        out = ":\n\n";
                    }
                }
            }
            return sink.write(out.data(), out.size());
        });
}

void OperatorPage::Impl::Units(const httplib::Request& request, httplib::Response& response) {
    journal::Filter filter{request.get_param_value("batch"), request.get_param_value("since"),
                           request.get_param_value("verdict")};
    std::size_t limit = kMostRows;
    const std::string wanted = request.get_param_value("limit");
    const bool limit_bad =
        !wanted.empty() && (std::from_chars(wanted.data(), wanted.data() + wanted.size(), limit)
                                    .ptr != wanted.data() + wanted.size() ||
                            limit == 0 || limit > kMostRows);
    if (limit_bad || (!filter.verdict.empty() && filter.verdict != "pass" &&
                      filter.verdict != "fail" && filter.verdict != "interrupted")) {
        response.status = 400;
        return SendJson(response, Json{{"error", "verdict: pass, fail or interrupted; limit: 1 to " +
                                                     std::to_string(kMostRows)}});
    }
    std::vector<journal::UnitRow> rows;
    {
        const std::lock_guard lock(journal_mutex);
        std::string error;
        if (!reader) reader = journal::Journal::Open(journal_path, error);
        if (reader) rows = reader->Rows(filter, error);
        // The error names the journal's file, which stays off the network.
        if (!error.empty()) {
            response.status = 500;
            return SendJson(response, Json{{"error", "the journal cannot be read"}});
        }
    }
    const std::string id = request.matches.size() > 1 ? request.matches[1].str() : "";
    Json json = Json::array();
    for (std::size_t i = id.empty() && rows.size() > limit ? rows.size() - limit : 0;
         i < rows.size(); ++i) {
        if (id.empty()) json.push_back(station::UnitJson(rows[i]));
        if (!id.empty() && rows[i].id == id) return SendJson(response, station::UnitJson(rows[i]));
    }
    if (!id.empty()) {
        response.status = 404;
        return SendJson(response, Json{{"error", "no such unit"}});
    }
    SendJson(response, json);
}

void OperatorPage::Impl::Route() {
    server.new_task_queue = [this] { return new CountedPool(active); };
    // A port another program (or another station) listens on is refused, not shared: the
    // library's own options would share it (SO_REUSEPORT on Linux, SO_REUSEADDR on Windows).
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
#ifdef _WIN32
        setsockopt(sock, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
                   sizeof yes);
#else
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
    });
    server.set_keep_alive_timeout(2);
    server.set_write_timeout(2s);
    server.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                                {"Referrer-Policy", "no-referrer"},
                                {"Cache-Control", "no-store"}});
    server.set_pre_routing_handler([this](const httplib::Request& request,
                                          httplib::Response& response) {
        if (active > kConnections) {
            response.status = 503;
            response.set_header("Retry-After", "5");
            response.set_header("Connection", "close");
            response.set_content("too many connections\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (request.method != "GET" && request.method != "HEAD") {
            response.status = 405;
            response.set_header("Allow", "GET, HEAD");
            return httplib::Server::HandlerResponse::Handled;
        }
        // What is not the page runs no script and loads nothing.
        response.set_header("Content-Security-Policy", "default-src 'none'; frame-ancestors 'none'");
        return httplib::Server::HandlerResponse::Unhandled;
    });
    const auto page = [](const httplib::Request& request, httplib::Response& response) {
        const std::string nonce = Nonce();
        std::string html(kPageHtml);
        Replace(html, "{{nonce}}", nonce);
        Replace(html, "{{lang}}", Language(request));
        response.headers.erase("Content-Security-Policy");
        response.set_header("Content-Security-Policy",
                            "default-src 'none'; script-src 'nonce-" + nonce +
                                "'; style-src 'nonce-" + nonce +
                                "'; connect-src 'self'; img-src 'self'; base-uri 'none'; "
                                "form-action 'none'; frame-ancestors 'none'");
        response.set_content(html, "text/html; charset=utf-8");
    };
    server.Get("/", page);
    server.Get(R"(/units/([0-9A-Za-z-]+))", page);
    server.Get("/events", [this](const httplib::Request&, httplib::Response& response) {
        Stream(response);
    });
    server.Get("/api/state", [this](const httplib::Request&, httplib::Response& response) {
        const std::lock_guard lock(state_mutex);
        SendJson(response, state.State());
    });
    server.Get("/api/units", [this](const httplib::Request& request,
                                    httplib::Response& response) { Units(request, response); });
    server.Get(R"(/api/units/([0-9A-Za-z-]+))",
               [this](const httplib::Request& request, httplib::Response& response) {
                   Units(request, response);
               });
    server.Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
        std::string text;
        {
            const std::lock_guard lock(state_mutex);
            text = state.Metrics();
        }
        text +=
            "# HELP transmitter_station_page_events_dropped_total Events the page's queue was "
            "too full to take.\n# TYPE transmitter_station_page_events_dropped_total counter\n"
            "transmitter_station_page_events_dropped_total " +
            std::to_string(dropped.load()) + "\n";
        response.set_content(text, "text/plain; version=0.0.4; charset=utf-8");
    });
}

std::unique_ptr<OperatorPage> OperatorPage::Open(const std::string& address, PageSettings settings,
                                                 std::string journal_path, std::string& error) {
    const std::optional<Address> parsed = ParseAddress(address);
    if (!parsed) {
        error = "--http \"" + address + "\" is no [ADDRESS:]PORT, like 8080 or 0.0.0.0:8080";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>(std::move(settings));
    impl->journal_path = std::move(journal_path);
    impl->Route();
    const int port = parsed->port == 0 ? impl->server.bind_to_any_port(parsed->host)
                                       : (impl->server.bind_to_port(parsed->host, parsed->port)
                                              ? parsed->port
                                              : -1);
    if (port < 0) {
        error = "--http: cannot listen on " + parsed->host + ":" + std::to_string(parsed->port) +
                " (in use, or not an address of this machine)";
        return nullptr;
    }
    impl->url = "http://" + parsed->host + ":" + std::to_string(port) + "/";
    Impl& running = *impl;
    impl->pump = std::thread([&running] { running.Pump(); });
    impl->listener = std::thread([&running] { running.server.listen_after_bind(); });
    return std::unique_ptr<OperatorPage>(new OperatorPage(std::move(impl)));
}

OperatorPage::OperatorPage(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

OperatorPage::~OperatorPage() {
    {
        const std::lock_guard lock(impl_->queue_mutex);
        impl_->closing = true;
    }
    impl_->queue_ready.notify_all();
    impl_->pump.join();
    {
        const std::lock_guard lock(impl_->state_mutex);
        impl_->ended = true;
    }
    impl_->published.notify_all();
    // A server stopped before it runs would run on, unstopped.
    for (int i = 0; i < 5000 && !impl_->server.is_running(); ++i) std::this_thread::sleep_for(1ms);
    impl_->server.stop();
    impl_->listener.join();
}

void OperatorPage::Post(const station::Event& event) { impl_->Enqueue(event); }

void OperatorPage::Post(const journal::ForwardStatus& status) { impl_->Enqueue(status); }

std::string OperatorPage::Url() const { return impl_->url; }

}  // namespace web
