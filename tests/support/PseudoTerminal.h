#pragma once
// A real pseudo-terminal for serial paths: the component under test opens the slave side by
// its device name, the test plays the far end on the master side with plain reads and writes.

#include <chrono>
#include <string>

#include "tests/support/EventLoopWaits.h"

namespace quenvar::testing {

class PseudoTerminal {
public:
    PseudoTerminal();  // throws std::runtime_error when no pseudo-terminal can be had
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& deviceName() const { return deviceName_; }

    // Writes on the master side: the component receives these bytes.
    void send(const std::string& bytes);

    // Everything the component has written so far, collected from the master side; waits
    // (processing events) until at least `count` bytes have come or the timeout passes.
    std::string receive(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Bytes already available on the master side, without waiting.
    std::string drain();

    // The far end goes away: the slave side is hung up.
    void closeMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string deviceName_;
    std::string collected_;
};

}  // namespace quenvar::testing
