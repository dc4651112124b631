#include "tests/support/PseudoTerminal.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace quenvar::testing {

PseudoTerminal::PseudoTerminal() {
    char name[256] = {};
    if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
        throw std::runtime_error(std::string("openpty failed: ") + std::strerror(errno));
    // Raw at once, so that no line discipline between the two sides changes a byte.
    termios settings{};
    ::tcgetattr(slave_, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(slave_, TCSANOW, &settings);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    deviceName_ = name;
}

PseudoTerminal::~PseudoTerminal() {
    closeMaster();
    if (slave_ >= 0) ::close(slave_);
}

void PseudoTerminal::send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            throw std::runtime_error(std::string("write to pty master failed: ") + std::strerror(errno));
        }
        done += static_cast<std::size_t>(written);
    }
}

std::string PseudoTerminal::drain() {
    char buffer[512];
    for (;;) {
        const ssize_t got = ::read(master_, buffer, sizeof buffer);
        if (got <= 0) break;
        collected_.append(buffer, static_cast<std::size_t>(got));
    }
    std::string result;
    result.swap(collected_);
    return result;
}

std::string PseudoTerminal::receive(std::size_t count, std::chrono::milliseconds timeout) {
    std::string result;
    waitUntil(
        [&] {
            result += drain();
            return result.size() >= count;
        },
        timeout);
    return result;
}

void PseudoTerminal::closeMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

}  // namespace quenvar::testing
