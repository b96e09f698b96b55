#include "report/printer_link.h"

#include <algorithm>
#include <cstring>
#include <memory>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace report {
namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
int LastError() {
    return WSAGetLastError();
}
std::string SystemText(int code) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string shown = text;
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r' || shown.back() == '.'))
        shown.pop_back();
    return shown.empty() ? "error " + std::to_string(code) : shown;
}
void CloseSocket(Socket s) {
    closesocket(s);
}
int PollOne(WSAPOLLFD* one, int milliseconds) {
    return WSAPoll(one, 1, milliseconds);
}
using PollFd = WSAPOLLFD;
constexpr int kInProgress = WSAEWOULDBLOCK;
constexpr int kSendFlags = 0;
// Winsock is started once for the process and left to its end.
bool SocketsReady(std::string& error) {
    static const int started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0) error = "cannot start Windows sockets: " + SystemText(started);
    return started == 0;
}
bool NonBlocking(Socket s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
int LastError() {
    return errno;
}
std::string SystemText(int code) {
    return std::strerror(code);
}
void CloseSocket(Socket s) {
    ::close(s);
}
using PollFd = pollfd;
int PollOne(pollfd* one, int milliseconds) {
    return ::poll(one, 1, milliseconds);
}
constexpr int kInProgress = EINPROGRESS;
// A printer that goes away mid-label must be an error, not a SIGPIPE that ends the program.
constexpr int kSendFlags = MSG_NOSIGNAL;
bool SocketsReady(std::string&) {
    return true;
}
bool NonBlocking(Socket s) {
    const int flags = ::fcntl(s, F_GETFL);
    return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}
#endif

struct SocketCloser {
    Socket socket = kNoSocket;
    ~SocketCloser() {
        if (socket != kNoSocket) CloseSocket(socket);
    }
};

struct AddressesFree {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

// Waits for the socket to take more bytes (or to finish connecting); the system's error number
// when it fails, -1 when the time is up.
int AwaitWritable(Socket socket, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return -1;
        PollFd one{};
        one.fd = socket;
        one.events = POLLOUT;
        const int ready = PollOne(&one, static_cast<int>(left.count()));
        if (ready > 0) {
            int failure = 0;
            socklen_t size = sizeof failure;
            getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &size);
            return failure;
        }
#ifndef _WIN32
        if (ready < 0 && errno == EINTR) continue;
#endif
        if (ready < 0) return LastError();
    }
}

}  // namespace

bool PrinterAddressOf(const std::string& text, std::string& host, std::string& port,
                      std::string& error) {
    port = "9100";
    std::string rest;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) {
            error = "printer \"" + text + "\" has no closing ] after its IPv6 address";
            return false;
        }
        host = text.substr(1, close - 1);
        rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') host.clear();
    } else {
        const std::size_t colon = text.find(':');
        // More than one colon: a bare IPv6 address, without a port.
        host = colon != std::string::npos && text.find(':', colon + 1) == std::string::npos
                   ? text.substr(0, colon)
                   : text;
        rest = text.substr(host.size());
    }
    if (!rest.empty()) port = rest.substr(1);
    const bool port_ok = !port.empty() && port.size() <= 5 &&
                         port.find_first_not_of("0123456789") == std::string::npos &&
                         std::stoi(port) >= 1 && std::stoi(port) <= 65535;
    const bool host_ok = !host.empty() && host.find_first_of(" \t\r\n") == std::string::npos;
    if (!host_ok || !port_ok) {
        error = "printer \"" + text + "\" is not HOST or HOST:PORT (port 1 to 65535)";
        return false;
    }
    return true;
}

bool SendToPrinter(const std::string& address, const std::string& bytes,
                   std::chrono::milliseconds timeout, std::string& error) {
    std::string host, port;
    if (!PrinterAddressOf(address, host, port, error) || !SocketsReady(error)) return false;
    const auto said = [&](const std::string& what) {
        error = "printer " + address + ": " + what;
        return false;
    };
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int failure = getaddrinfo(host.c_str(), port.c_str(), &hints, &found)) {
#ifdef _WIN32
        return said("cannot find the host: " + SystemText(failure));
#else
        return said(std::string("cannot find the host: ") + gai_strerror(failure));
#endif
    }
    const std::unique_ptr<addrinfo, AddressesFree> addresses(found);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string last = "no address";
    SocketCloser link;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        SocketCloser attempt{socket(a->ai_family, a->ai_socktype, a->ai_protocol)};
        if (attempt.socket == kNoSocket || !NonBlocking(attempt.socket)) {
            last = SystemText(LastError());
            continue;
        }
        int failure = 0;
        if (connect(attempt.socket, a->ai_addr, static_cast<socklen_t>(a->ai_addrlen)) != 0) {
            failure = LastError();
            if (failure == kInProgress
#ifndef _WIN32
                || failure == EINTR
#endif
            ) {
                failure = AwaitWritable(attempt.socket, deadline);
            }
        }
        if (failure == 0) {
            std::swap(link.socket, attempt.socket);
            break;
        }
        last = failure < 0 ? "no answer within " + std::to_string(timeout.count()) + " ms"
                           : SystemText(failure);
    }
    if (link.socket == kNoSocket) return said("cannot connect: " + last);

    const auto send_deadline = std::chrono::steady_clock::now() + timeout;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 65536));
        const auto wrote = send(link.socket, bytes.data() + sent, chunk, kSendFlags);
        if (wrote > 0) {
            sent += static_cast<std::size_t>(wrote);
            continue;
        }
        const int failure = LastError();
#ifdef _WIN32
        const bool again = failure == WSAEWOULDBLOCK;
#else
        const bool again = failure == EAGAIN || failure == EWOULDBLOCK || failure == EINTR;
#endif
        if (!again) return said("sending failed: " + SystemText(failure));
        const int waited = AwaitWritable(link.socket, send_deadline);
        if (waited != 0) {
            return said(waited < 0 ? "it took no more of the label for " +
                                         std::to_string(timeout.count()) + " ms"
                                   : "sending failed: " + SystemText(waited));
        }
    }
    // The label is whole once the printer has seen the end of it.
#ifdef _WIN32
    shutdown(link.socket, SD_SEND);
#else
    shutdown(link.socket, SHUT_WR);
#endif
    return true;
}

}  // namespace report
