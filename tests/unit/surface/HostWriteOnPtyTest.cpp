// A host's write to comstatus decides what the receive handler does with the next byte, on a
// real serial path: the control's own serial component on a pseudo-terminal.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "platform/serial/QtSerialComponent.h"
#include "tests/unit/surface/SurfaceFixture.h"

namespace quenvar::testing {
namespace {

namespace member = control::member;

// The interface's end of the line: the test reads and writes the master side.
class InterfaceEnd {
public:
    InterfaceEnd() {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            throw std::runtime_error("no pseudo-terminal available");
        }
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        device_ = name;
    }
    ~InterfaceEnd() {
        ::close(slave_);
        ::close(master_);
    }
    InterfaceEnd(const InterfaceEnd&) = delete;
    InterfaceEnd& operator=(const InterfaceEnd&) = delete;

    const std::string& device() const { return device_; }

    void send(const std::string& data) {
        ASSERT_EQ(::write(master_, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    }

    // Runs the event loop until `count` bytes have come from the control or five seconds pass.
    std::string receive(std::size_t count) {
        QElapsedTimer clock;
        clock.start();
        while (received_.size() < count && clock.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            pollfd ready{master_, POLLIN, 0};
            if (::poll(&ready, 1, 10) > 0) {
                char chunk[256];
                const ssize_t n = ::read(master_, chunk, sizeof chunk);
                if (n > 0) received_.append(chunk, static_cast<std::size_t>(n));
            }
        }
        std::string taken = received_.substr(0, std::min(count, received_.size()));
        received_.erase(0, taken.size());
        return taken;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string device_;
    std::string received_;
};

TEST(HostWriteOnPty, ComstatusWrittenByTheHostSteersTheReceiveHandler) {
    InterfaceEnd line;
    qputenv("QUENVAR_COMM1", QByteArray::fromStdString(line.device()));
    auto boxes = std::make_shared<RecordingMessageBoxes>();
    control::QuenvarControl control(std::make_unique<serial::QtSerialComponent>(), boxes);
    control.call(member::openx10, {int16(1)});

    // Told it awaits the echo 0x6A, the control acknowledges that byte.
    control.put(member::comstatus, int16(1));
    control.put(member::checksum, text(bytes({0x6A})));
    line.send(bytes({0x6A}));
    EXPECT_EQ(line.receive(1), bytes({0x00}));
    EXPECT_EQ(control.get(member::comstatus), int16(99));

    // Set back to idle, the same byte is no echo: the control stays silent and answers only
    // the power-fail request that follows it.
    control.put(member::comstatus, int16(0));
    line.send(bytes({0x6A, 0xA5}));
    const std::string answer = line.receive(43);
    ASSERT_EQ(answer.size(), 43u);
    EXPECT_EQ(answer, bytes({0xFB}) + std::string(42, '\0'));
    EXPECT_TRUE(boxes->shown.empty());

    control.call(member::closex10);
    qunsetenv("QUENVAR_COMM1");
}

}  // namespace
}  // namespace quenvar::testing
