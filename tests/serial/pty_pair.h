#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// A bare pseudo-terminal for the backend's tests: the test plays the device on the master
// side; the port side is opened by the code under test. A second descriptor on the port side
// (the observer) keeps it alive and lets the test look at its settings and its input queue.
class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool IsOpen() const { return master_ >= 0 && observer_ >= 0; }
    const std::string& PortPath() const { return port_path_; }
    std::u16string PortName() const;
    int Master() const { return master_; }
    int Observer() const { return observer_; }

    // What the device says.
    void DeviceWrite(const std::vector<std::uint8_t>& bytes);
    // What the device hears: bytes until `count` have come or the line has been quiet for
    // `quiet`.
    std::vector<std::uint8_t> DeviceRead(
        std::size_t count, std::chrono::milliseconds quiet = std::chrono::milliseconds(300));
    // The device is unplugged.
    void CloseMaster();
    // Bytes waiting on the port side that nobody has read.
    std::size_t UnreadInput() const;
    // The same, once `count` bytes are there or `limit` has passed: the terminal hands bytes
    // from the device side to the port side in the background.
    std::size_t WaitForUnreadInput(std::size_t count,
                                   std::chrono::milliseconds limit = std::chrono::seconds(2)) const;

  private:
    int master_ = -1;
    int observer_ = -1;
    std::string port_path_;
};
