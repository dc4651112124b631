// A host's write to comstatus decides what the receive handler does with the next byte, on a
// real serial path: the control's own serial component on a pseudo-terminal.

#include <gtest/gtest.h>

#include "platform/serial/QtSerialComponent.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/unit/surface/SurfaceFixture.h"

namespace quenvar::testing {
namespace {

namespace member = control::member;

TEST(HostWriteOnPty, ComstatusWrittenByTheHostSteersTheReceiveHandler) {
    PseudoTerminal line;
    qputenv("QUENVAR_COMM1", QByteArray::fromStdString(line.deviceName()));
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
