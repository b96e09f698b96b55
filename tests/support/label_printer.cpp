#include "tests/support/label_printer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int BoundSocket(int& port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(s, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return s;
}

}  // namespace

LabelPrinter::LabelPrinter() {
    listener_ = BoundSocket(port_);
    ::listen(listener_, 8);
    thread_ = std::thread([this] {
        while (!stop_) {
            pollfd one{listener_, POLLIN, 0};
            if (::poll(&one, 1, 50) <= 0) continue;
            const int client = ::accept(listener_, nullptr, nullptr);
            if (client < 0) continue;
            std::string bytes;
            char buffer[4096];
            for (ssize_t got; (got = ::read(client, buffer, sizeof buffer)) > 0;) {
                bytes.append(buffer, static_cast<std::size_t>(got));
            }
            ::close(client);
            const std::lock_guard lock(mutex_);
            received_.push_back(std::move(bytes));
            closed_.notify_all();
        }
    });
}

LabelPrinter::~LabelPrinter() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
}

std::vector<std::string> LabelPrinter::Received(std::size_t count) {
    std::unique_lock lock(mutex_);
    closed_.wait_for(lock, std::chrono::seconds(10), [&] { return received_.size() >= count; });
    return received_;
}

std::string LabelPrinter::DeadAddress() {
    // Nothing listens there, so connecting to it is refused.
    return "127.0.0.1:" + std::to_string(FreeLoopbackPort());
}

int FreeLoopbackPort() {
    int port = 0;
    ::close(BoundSocket(port));
    return port;
}
