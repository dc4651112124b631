#include "sim/InterfaceProtocol.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <ostream>
#include <vector>

namespace x10sim {
namespace {

using namespace std::chrono_literals;
using State = InterfaceProtocol::State;
using TimePoint = InterfaceProtocol::TimePoint;

// Drives an engine through explicit time and splits what it produced into bytes and frames,
// keeping the combined order too.
class Wire {
public:
    explicit Wire(InterfaceProtocol::Timing timing = InterfaceProtocol::Timing::immediate())
        : engine(timing)
    {
    }

    void send(std::initializer_list<std::uint8_t> bytes)
    {
        for (std::uint8_t byte : bytes)
            engine.receive(byte, now);
        collect();
    }
    void sendMacroDownload(std::uint8_t dataByte = 0x00)
    {
        engine.receive(kMacroDownload, now);
        for (int i = 0; i < kMacroDataBytes; ++i)
            engine.receive(dataByte, now);
        collect();
    }
    void inject(Fault fault)
    {
        engine.injectFault(fault, now);
        collect();
    }
    void powerFailure()
    {
        engine.powerFailure(now);
        collect();
    }
    void wait(InterfaceProtocol::Duration duration)
    {
        now += duration;
        engine.advance(now);
        collect();
    }
    // Bytes for the computer since the last call.
    std::vector<std::uint8_t> takeBytes()
    {
        std::vector<std::uint8_t> taken;
        taken.swap(bytes);
        return taken;
    }
    std::vector<Frame> takeFrames()
    {
        std::vector<Frame> taken;
        taken.swap(frames);
        return taken;
    }

    InterfaceProtocol engine;
    TimePoint now{0};
    std::vector<std::uint8_t> bytes;
    std::vector<Frame> frames;
    std::vector<InterfaceOutput> everything;

private:
    void collect()
    {
        for (InterfaceOutput& output : engine.takeOutput()) {
            everything.push_back(output);
            if (auto* byte = std::get_if<std::uint8_t>(&output))
                bytes.push_back(*byte);
            else
                frames.push_back(std::get<Frame>(output));
        }
    }
};

using Bytes = std::vector<std::uint8_t>;

struct EchoCase {
    std::uint8_t header;
    std::uint8_t code;
    std::uint8_t echo;
};

void PrintTo(const EchoCase& c, std::ostream* out)
{
    *out << std::hex << "header 0x" << int(c.header) << " code 0x" << int(c.code) << " echo 0x" << int(c.echo);
}

class ChecksumEcho : public ::testing::TestWithParam<EchoCase> {};

TEST_P(ChecksumEcho, IsTheSumModulo256AndNothingGoesOutBeforeTheAcknowledge)
{
    const EchoCase& c = GetParam();
    Wire wire;
    wire.send({c.header, c.code});
    EXPECT_EQ(wire.takeBytes(), Bytes{c.echo});
    EXPECT_EQ(wire.engine.state(), State::AwaitingAcknowledge);
    EXPECT_TRUE(wire.takeFrames().empty());
    EXPECT_FALSE(wire.engine.nextDeadline().has_value()) << "waiting for 0x00 has no time limit";
}

INSTANTIATE_TEST_SUITE_P(Transmissions, ChecksumEcho, ::testing::Values(
    EchoCase{0x04, 0x66, 0x6A},   // A1 address
    EchoCase{0x06, 0x62, 0x68},   // A On
    EchoCase{0x86, 0xF4, 0x7A},   // J Dim 16 steps: the sum overflows a byte
    EchoCase{0x04, 0x56, 0x5A},   // G1 address: echo looks like a poll byte
    EchoCase{0x04, 0xA1, 0xA5},   // echo looks like a power-fail request
    EchoCase{0xFE, 0xFF, 0xFD},
    EchoCase{0x04, 0x00, 0x04}));

TEST(Handshake, AcknowledgeSendsTheFrameThenReady)
{
    Wire wire;
    wire.send({0x04, 0x66});
    wire.send({kAcknowledge});
    ASSERT_EQ(wire.everything.size(), 3u);
    EXPECT_EQ(std::get<std::uint8_t>(wire.everything[0]), 0x6A);
    ASSERT_TRUE(std::holds_alternative<Frame>(wire.everything[1])) << "the frame goes out before 0x55";
    EXPECT_EQ(std::get<Frame>(wire.everything[1]).text(), "A1 address");
    EXPECT_EQ(std::get<std::uint8_t>(wire.everything[2]), kReady);
    EXPECT_EQ(wire.engine.state(), State::Idle);
}

TEST(Handshake, TwoTransmissionsOfOneCommand)
{
    Wire wire;
    wire.send({0x04, 0x66});
    wire.send({0x00});
    wire.send({0x06, 0x62});
    wire.send({0x00});
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x6A, 0x55, 0x68, 0x55}));
    const auto frames = wire.takeFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].text(), "A1 address");
    EXPECT_EQ(frames[1].text(), "A On");
}

TEST(Handshake, NewTransmissionReplacesOneAwaitingItsAcknowledge)
{
    Wire wire;
    wire.send({0x04, 0x66});         // A1, echo 0x6A
    wire.send({0x04, 0x6E});         // A2 instead, echo 0x72
    wire.send({kAcknowledge});
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x6A, 0x72, kReady}));
    const auto frames = wire.takeFrames();
    ASSERT_EQ(frames.size(), 1u) << "the replaced transmission never reaches the power line";
    EXPECT_EQ(frames[0].text(), "A2 address");
}

TEST(Handshake, NonZeroByteThatIsNoHeaderAbandonsThePendingTransmission)
{
    Wire wire;
    wire.send({0x04, 0x66});
    wire.send({0xC3});
    EXPECT_EQ(wire.engine.state(), State::Idle);
    wire.send({kAcknowledge});
    EXPECT_TRUE(wire.takeFrames().empty());
    EXPECT_EQ(wire.takeBytes(), Bytes{0x6A});
}

TEST(Handshake, BytesThatCannotStartATransmissionAreIgnoredWhenIdle)
{
    Wire wire;
    wire.send({0x00, 0xC3, 0x00, 0xFB, 0x33});
    EXPECT_TRUE(wire.takeBytes().empty());
    EXPECT_EQ(wire.engine.state(), State::Idle);
    wire.send({0x04, 0x66});
    EXPECT_EQ(wire.takeBytes(), Bytes{0x6A});
}

TEST(Handshake, BytesWhileSendingOnThePowerLineAreIgnored)
{
    Wire wire(InterfaceProtocol::Timing::realistic());
    wire.send({0x04, 0x66});
    wire.wait(10ms);
    wire.send({kAcknowledge});
    ASSERT_EQ(wire.engine.state(), State::SendingOnPowerLine);
    wire.send({0x04, 0x6E});
    wire.wait(1s);
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x6A, kReady}));
    const auto frames = wire.takeFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].text(), "A1 address");
}

TEST(Handshake, HalfReceivedTransmissionIsDroppedAfterOneSecondOfSilence)
{
    Wire wire;
    wire.send({0x06});
    ASSERT_TRUE(wire.engine.nextDeadline().has_value());
    EXPECT_EQ(*wire.engine.nextDeadline(), TimePoint(1s));
    wire.wait(1s);
    // 0x62 cannot start a transmission (bit 2 clear), so nothing is echoed once the header is gone.
    wire.send({0x62});
    EXPECT_TRUE(wire.takeBytes().empty());
    EXPECT_EQ(wire.engine.state(), State::Idle);
}

TEST(Handshake, CodeByteJustInsideTheSilenceLimitCompletesTheTransmission)
{
    Wire wire;
    wire.send({0x06});
    wire.wait(999ms);
    wire.send({0x62});
    EXPECT_EQ(wire.takeBytes(), Bytes{0x68});
}

TEST(Handshake, ExtendedTransmissionIsFiveBytesEchoedByTheirSum)
{
    Wire wire;
    wire.send({0x07, 0x67, 0x6E, 0x10});
    EXPECT_TRUE(wire.takeBytes().empty()) << "four of five bytes is not yet a transmission";
    wire.send({0x31});
    EXPECT_EQ(wire.takeBytes(), Bytes{static_cast<std::uint8_t>((0x07 + 0x67 + 0x6E + 0x10 + 0x31) & 0xFF)});
    wire.send({kAcknowledge});
    const auto frames = wire.takeFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].kind, FrameKind::Extended);
    EXPECT_EQ(frames[0].extendedBytes, (Bytes{0x6E, 0x10, 0x31}));
}

struct PacingCase {
    std::uint8_t header;
    std::uint8_t code;
    int cycles;
};

void PrintTo(const PacingCase& c, std::ostream* out)
{
    *out << std::hex << "header 0x" << int(c.header) << " code 0x" << int(c.code) << std::dec << ", " << c.cycles << " cycles";
}

class RealTiming : public ::testing::TestWithParam<PacingCase> {};

TEST_P(RealTiming, FrameTakesItsMainsCyclesAndEachReplyOneByteTime)
{
    const PacingCase& c = GetParam();
    const auto timing = InterfaceProtocol::Timing::realistic();
    Wire wire(timing);
    wire.send({c.header, c.code});
    EXPECT_TRUE(wire.takeBytes().empty()) << "the echo is not out before one byte time";
    wire.wait(timing.replyDelay);
    EXPECT_EQ(wire.takeBytes().size(), 1u);

    wire.send({kAcknowledge});
    const auto frameTime = timing.mainsCycle * c.cycles;
    wire.wait(frameTime - 1us);
    EXPECT_TRUE(wire.takeFrames().empty());
    wire.wait(1us);
    EXPECT_EQ(wire.takeFrames().size(), 1u);
    EXPECT_TRUE(wire.takeBytes().empty());
    wire.wait(timing.replyDelay);
    EXPECT_EQ(wire.takeBytes(), Bytes{kReady});
}

INSTANTIATE_TEST_SUITE_P(Transmissions, RealTiming, ::testing::Values(
    PacingCase{0x04, 0x66, 25},                // address
    PacingCase{0x06, 0x62, 25},                // On
    PacingCase{0x0E, 0x64, 25},                // Dim 1 step
    PacingCase{0x5E, 0x64, 25 + 10 * 11},      // Dim 11 steps
    PacingCase{0xB6, 0x65, 25 + 21 * 11}));    // Bright 22 steps

TEST(RealTiming, AddressFrameIsAboutFourTenthsOfASecondAt60Hz)
{
    const auto timing = InterfaceProtocol::Timing::realistic();
    const auto frameTime = timing.mainsCycle * 25;
    EXPECT_GT(frameTime, 410ms);
    EXPECT_LT(frameTime, 425ms);
    EXPECT_GT(timing.replyDelay, 2ms);
    EXPECT_LT(timing.replyDelay, 2200us);
}

TEST(PowerFailure, RequestsOnceASecondUntilAnsweredWithAnEmptyMacroDownload)
{
    Wire wire;
    wire.powerFailure();
    EXPECT_EQ(wire.takeBytes(), Bytes{kPowerFailRequest}) << "the first request goes out at once";
    wire.wait(999ms);
    EXPECT_TRUE(wire.takeBytes().empty());
    wire.wait(1ms);
    EXPECT_EQ(wire.takeBytes(), Bytes{kPowerFailRequest});
    wire.wait(3s);
    EXPECT_EQ(wire.takeBytes(), (Bytes{kPowerFailRequest, kPowerFailRequest, kPowerFailRequest}));

    wire.send({0x04, 0x66, 0x00});
    EXPECT_TRUE(wire.takeBytes().empty()) << "transmissions are ignored until the request is answered";
    EXPECT_TRUE(wire.takeFrames().empty());

    wire.sendMacroDownload();
    EXPECT_EQ(wire.takeBytes(), Bytes{0x00}) << "checksum of 42 zero bytes";
    EXPECT_EQ(wire.engine.state(), State::AwaitingMacroAcknowledge);
    wire.send({kAcknowledge});
    EXPECT_EQ(wire.takeBytes(), Bytes{kReady});
    EXPECT_EQ(wire.engine.state(), State::Idle);

    wire.wait(5s);
    EXPECT_TRUE(wire.takeBytes().empty()) << "answered: no more requests";
    wire.send({0x04, 0x66});
    EXPECT_EQ(wire.takeBytes(), Bytes{0x6A});
}

TEST(PowerFailure, MacroChecksumIsTheSumOfTheDataBytes)
{
    Wire wire;
    wire.powerFailure();
    wire.takeBytes();
    wire.sendMacroDownload(0x07);
    EXPECT_EQ(wire.takeBytes(), Bytes{static_cast<std::uint8_t>((42 * 0x07) & 0xFF)});
}

TEST(PowerFailure, DownloadCutShortGoesBackToRequesting)
{
    Wire wire;
    wire.powerFailure();
    wire.takeBytes();
    wire.send({kMacroDownload, 0x00, 0x00});
    EXPECT_EQ(wire.engine.state(), State::ReceivingMacro);
    wire.wait(999ms);
    EXPECT_TRUE(wire.takeBytes().empty()) << "no requests while the download is arriving";
    wire.wait(1ms);
    EXPECT_EQ(wire.engine.state(), State::PowerFailRequesting);
    EXPECT_EQ(wire.takeBytes(), Bytes{kPowerFailRequest});
}

TEST(PowerFailure, NewTransmissionAfterTheMacroEchoTakesOverFromTheAcknowledge)
{
    Wire wire;
    wire.powerFailure();
    wire.sendMacroDownload();
    wire.takeBytes();
    wire.send({0x06, 0x61});
    EXPECT_EQ(wire.takeBytes(), Bytes{0x67}) << "the new transmission is echoed";
    wire.send({kAcknowledge});
    EXPECT_EQ(wire.takeBytes(), Bytes{kReady});
    wire.wait(3s);
    EXPECT_TRUE(wire.takeBytes().empty()) << "the download answered the power failure";
}

TEST(PowerFailure, AbandonsATransmissionUnderWay)
{
    Wire wire;
    wire.send({0x04, 0x66});
    wire.powerFailure();
    wire.send({kAcknowledge});
    EXPECT_TRUE(wire.takeFrames().empty());
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x6A, kPowerFailRequest}));
}

// One A1 address transmission after the fault is armed: what the computer gets back.
struct FaultCase {
    const char* name;
    Fault fault;
    Bytes afterTransmission;
    Bytes afterAcknowledge;
    size_t frames;
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class Faults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(Faults, HitTheNextTransmissionOnceThenTheInterfaceBehavesAgain)
{
    const FaultCase& c = GetParam();
    Wire wire;
    wire.inject(c.fault);
    EXPECT_EQ(wire.engine.armedCount(c.fault), 1);
    wire.send({0x04, 0x66});
    EXPECT_EQ(wire.takeBytes(), c.afterTransmission);
    wire.send({kAcknowledge});
    EXPECT_EQ(wire.takeBytes(), c.afterAcknowledge);
    EXPECT_EQ(wire.takeFrames().size(), c.frames);
    EXPECT_EQ(wire.engine.armedCount(c.fault), 0);

    wire.send({0x06, 0x62, 0x00});
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x68, kReady}));
    EXPECT_EQ(wire.takeFrames().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(OneEach, Faults, ::testing::Values(
    FaultCase{"WrongEcho", Fault::WrongEcho, {0x6B}, {kReady}, 1},
    FaultCase{"NoAnswer", Fault::NoAnswer, {}, {}, 0},
    FaultCase{"NotReady", Fault::NotReady, {0x6A}, {kNotReady}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Faults, StrayBytesGoOutAtOnceWhenIdle)
{
    Wire wire;
    wire.inject(Fault::StrayBytes);
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x5A, 0x33}));
    EXPECT_EQ(wire.engine.armedCount(Fault::StrayBytes), 0);
}

TEST(Faults, StrayBytesWaitForTheEndOfAHandshake)
{
    Wire wire;
    wire.send({0x04, 0x66});
    wire.inject(Fault::StrayBytes);
    wire.send({});
    EXPECT_EQ(wire.takeBytes(), Bytes{0x6A});
    wire.send({kAcknowledge});
    EXPECT_EQ(wire.takeBytes(), (Bytes{kReady, 0x5A, 0x33}));
}

TEST(Faults, CombineAndCount)
{
    Wire wire;
    wire.inject(Fault::WrongEcho);
    wire.inject(Fault::WrongEcho);
    wire.inject(Fault::NotReady);
    wire.send({0x04, 0x66, 0x00});
    wire.send({0x06, 0x62, 0x00});
    wire.send({0x06, 0x63, 0x00});
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x6B, kNotReady, 0x69, kReady, 0x69, kReady}));
}

TEST(Faults, NoneDisarmsEverything)
{
    Wire wire;
    wire.send({0x04, 0x66});  // awaiting the acknowledge, so stray bytes stay armed too
    for (Fault fault : {Fault::WrongEcho, Fault::NoAnswer, Fault::NotReady, Fault::StrayBytes})
        wire.inject(fault);
    wire.inject(Fault::None);
    for (Fault fault : {Fault::WrongEcho, Fault::NoAnswer, Fault::NotReady, Fault::StrayBytes})
        EXPECT_EQ(wire.engine.armedCount(fault), 0);
    wire.send({kAcknowledge});
    wire.send({0x06, 0x62, 0x00});
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x6A, kReady, 0x68, kReady}));
}

TEST(Timing, RejectsValuesThatWouldNeverLetTimeMoveOn)
{
    InterfaceProtocol::Timing timing;
    timing.powerFailRepeat = 0us;
    EXPECT_THROW(InterfaceProtocol{timing}, std::invalid_argument);
    timing = {};
    timing.silenceLimit = 0us;
    EXPECT_THROW(InterfaceProtocol{timing}, std::invalid_argument);
}

}  // namespace
}  // namespace x10sim
