#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A label printer's raw port on the loopback: takes connections one after another and keeps
// what each sent until it closed.
class LabelPrinter {
  public:
    LabelPrinter();
    ~LabelPrinter();
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    // What each connection sent, in the order they closed, once `count` have (or 10 s passed).
    std::vector<std::string> Received(std::size_t count);

    // A loopback port with nothing listening on it.
    static std::string DeadAddress();

  private:
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable closed_;
    std::vector<std::string> received_;
    std::thread thread_;
};

// A loopback port that was free a moment ago: bound, then closed without listening.
int FreeLoopbackPort();
