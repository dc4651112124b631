#pragma once
// What x10sim, behind COM1, saw on the wire: its record (the file named by QUENVAR_X10SIM_LOG)
// read from Windows. Lines "in: 04 66" are bytes from the computer, "frame: A1 address" the
// power-line frames the interface sent.

#include <cstdint>
#include <string>
#include <vector>

namespace sample_driver {

class WireLog {
public:
    WireLog();

    // Forgets what was seen so far: later reads give only what comes after this call.
    void mark();
    // The bytes the computer sent since the mark, once there are at least `count` (or what there
    // is when the wait ends).
    std::vector<std::uint8_t> waitForBytes(std::size_t count);
    // The frames sent since the mark, once there are at least `count`.
    std::vector<std::string> waitForFrames(std::size_t count);
    // Everything since the mark now, without waiting.
    std::vector<std::uint8_t> bytes();
    std::vector<std::string> frames();

private:
    std::vector<std::string> lines() const;

    std::string path_;
    std::size_t bytesSeen_ = 0;
    std::size_t framesSeen_ = 0;
};

}  // namespace sample_driver
