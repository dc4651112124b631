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
    explicit Wire(InterfaceProtocol::Timing timing = InterfaceProtocol::Timing::immediate(),
                  PowerFailAnswer accepted = PowerFailAnswer::MacroOrClock)
        : engine(timing, accepted) {}

    void send(std::initializer_list<std::uint8_t> bytes) {
        for (std::uint8_t byte : bytes) engine.receive(byte, now);
        collect();
    }
    void sendMacroDownload(std::uint8_t dataByte = 0x00) {
        engine.receive(macroDownload, now);
        for (int i = 0; i < macroDataBytes; ++i) engine.receive(dataByte, now);
        collect();
    }
    void inject(Fault fault) {
        engine.injectFault(fault, now);
        collect();
    }
    void powerFailure() {
        engine.powerFailure(now);
        collect();
    }
    void hear(std::initializer_list<Frame> heard) {
        for (const Frame& frame : heard) engine.hear(frame, now);
        collect();
    }
    void wait(InterfaceProtocol::Duration duration) {
        now += duration;
        engine.advance(now);
        collect();
    }
    // Bytes for the computer since the last call.
    std::vector<std::uint8_t> takeBytes() {
        std::vector<std::uint8_t> taken;
        taken.swap(bytes);
        return taken;
    }
    std::vector<Frame> takeFrames() {
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
    void collect() {
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

void PrintTo(const EchoCase& c, std::ostream* out) {
    *out << std::hex << "header 0x" << int(c.header) << " code 0x" << int(c.code) << " echo 0x" << int(c.echo);
}

class ChecksumEcho : public ::testing::TestWithParam<EchoCase> {};

TEST_P(ChecksumEcho, IsTheSumModulo256AndNothingGoesOutBeforeTheAcknowledge) {
    const EchoCase& c = GetParam();
    Wire wire;
    wire.send({c.header, c.code});
    EXPECT_EQ(wire.takeBytes(), Bytes{c.echo});
    EXPECT_EQ(wire.engine.state(), State::AwaitingAcknowledge);
    EXPECT_TRUE(wire.takeFrames().empty());
    EXPECT_FALSE(wire.engine.nextDeadline().has_value()) << "waiting for 0x00 has no time limit";
}

INSTANTIATE_TEST_SUITE_P(Transmissions, ChecksumEcho,
                         ::testing::Values(EchoCase{0x04, 0x66, 0x6A},  // A1 address
                                           EchoCase{0x06, 0x62, 0x68},  // A On
                                           EchoCase{0x86, 0xF4, 0x7A},  // J Dim 16 steps: the sum overflows a byte
                                           EchoCase{0x04, 0x56, 0x5A},  // G1 address: echo looks like a poll byte
                                           EchoCase{0x04, 0xA1, 0xA5},  // echo looks like a power-fail request
                                           EchoCase{0xFE, 0xFF, 0xFD}, EchoCase{0x04, 0x00, 0x04}));

TEST(Handshake, AcknowledgeSendsTheFrameThenReady) {
    Wire wire;
    wire.send({0x04, 0x66});
    wire.send({acknowledgeByte});
    ASSERT_EQ(wire.everything.size(), 3u);
    EXPECT_EQ(std::get<std::uint8_t>(wire.everything[0]), 0x6A);
    ASSERT_TRUE(std::holds_alternative<Frame>(wire.everything[1])) << "the frame goes out before 0x55";
    EXPECT_EQ(std::get<Frame>(wire.everything[1]).text(), "A1 address");
    EXPECT_EQ(std::get<std::uint8_t>(wire.everything[2]), readyByte);
    EXPECT_EQ(wire.engine.state(), State::Idle);
}

TEST(Handshake, TwoTransmissionsOfOneCommand) {
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

TEST(Handshake, NewTransmissionReplacesOneAwaitingItsAcknowledge) {
    Wire wire;
    wire.send({0x04, 0x66});  // A1, echo 0x6A
    wire.send({0x04, 0x6E});  // A2 instead, echo 0x72
    wire.send({acknowledgeByte});
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x6A, 0x72, readyByte}));
    const auto frames = wire.takeFrames();
    ASSERT_EQ(frames.size(), 1u) << "the replaced transmission never reaches the power line";
    EXPECT_EQ(frames[0].text(), "A2 address");
}

TEST(Handshake, NonZeroByteThatIsNoHeaderAbandonsThePendingTransmission) {
    Wire wire;
    wire.send({0x04, 0x66});
    wire.send({0xC3});
    EXPECT_EQ(wire.engine.state(), State::Idle);
    wire.send({acknowledgeByte});
    EXPECT_TRUE(wire.takeFrames().empty());
    EXPECT_EQ(wire.takeBytes(), Bytes{0x6A});
}

TEST(Handshake, BytesThatCannotStartATransmissionAreIgnoredWhenIdle) {
    Wire wire;
    wire.send({0x00, 0xC3, 0x00, 0x33});
    EXPECT_TRUE(wire.takeBytes().empty());
    EXPECT_EQ(wire.engine.state(), State::Idle);
    wire.send({0x04, 0x66});
    EXPECT_EQ(wire.takeBytes(), Bytes{0x6A});
}

TEST(Handshake, BytesWhileSendingOnThePowerLineAreIgnored) {
    Wire wire(InterfaceProtocol::Timing::realistic());
    wire.send({0x04, 0x66});
    wire.wait(10ms);
    wire.send({acknowledgeByte});
    ASSERT_EQ(wire.engine.state(), State::SendingOnPowerLine);
    wire.send({0x04, 0x6E});
    wire.wait(1s);
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x6A, readyByte}));
    const auto frames = wire.takeFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].text(), "A1 address");
}

TEST(Handshake, HalfReceivedTransmissionIsDroppedAfterOneSecondOfSilence) {
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

TEST(Handshake, CodeByteJustInsideTheSilenceLimitCompletesTheTransmission) {
    Wire wire;
    wire.send({0x06});
    wire.wait(999ms);
    wire.send({0x62});
    EXPECT_EQ(wire.takeBytes(), Bytes{0x68});
}

TEST(Handshake, ExtendedTransmissionIsFiveBytesEchoedByTheirSum) {
    Wire wire;
    wire.send({0x07, 0x67, 0x6E, 0x10});
    EXPECT_TRUE(wire.takeBytes().empty()) << "four of five bytes is not yet a transmission";
    wire.send({0x31});
    EXPECT_EQ(wire.takeBytes(), Bytes{static_cast<std::uint8_t>((0x07 + 0x67 + 0x6E + 0x10 + 0x31) & 0xFF)});
    wire.send({acknowledgeByte});
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

void PrintTo(const PacingCase& c, std::ostream* out) {
    *out << std::hex << "header 0x" << int(c.header) << " code 0x" << int(c.code) << std::dec << ", " << c.cycles
         << " cycles";
}

class RealTiming : public ::testing::TestWithParam<PacingCase> {};

TEST_P(RealTiming, FrameTakesItsMainsCyclesAndEachReplyOneByteTime) {
    const PacingCase& c = GetParam();
    const auto timing = InterfaceProtocol::Timing::realistic();
    Wire wire(timing);
    wire.send({c.header, c.code});
    EXPECT_TRUE(wire.takeBytes().empty()) << "the echo is not out before one byte time";
    wire.wait(timing.replyDelay);
    EXPECT_EQ(wire.takeBytes().size(), 1u);

    wire.send({acknowledgeByte});
    const auto frameTime = timing.mainsCycle * c.cycles;
    wire.wait(frameTime - 1us);
    EXPECT_TRUE(wire.takeFrames().empty());
    wire.wait(1us);
    EXPECT_EQ(wire.takeFrames().size(), 1u);
    EXPECT_TRUE(wire.takeBytes().empty());
    wire.wait(timing.replyDelay);
    EXPECT_EQ(wire.takeBytes(), Bytes{readyByte});
}

INSTANTIATE_TEST_SUITE_P(Transmissions, RealTiming,
                         ::testing::Values(PacingCase{0x04, 0x66, 25},              // address
                                           PacingCase{0x06, 0x62, 25},              // On
                                           PacingCase{0x0E, 0x64, 25},              // Dim 1 step
                                           PacingCase{0x5E, 0x64, 25 + 10 * 11},    // Dim 11 steps
                                           PacingCase{0xB6, 0x65, 25 + 21 * 11}));  // Bright 22 steps

TEST(RealTiming, AddressFrameIsAboutFourTenthsOfASecondAt60Hz) {
    const auto timing = InterfaceProtocol::Timing::realistic();
    const auto frameTime = timing.mainsCycle * 25;
    EXPECT_GT(frameTime, 410ms);
    EXPECT_LT(frameTime, 425ms);
    EXPECT_GT(timing.replyDelay, 2ms);
    EXPECT_LT(timing.replyDelay, 2200us);
}

TEST(PowerFailure, RequestsOnceASecondUntilAnsweredWithAnEmptyMacroDownload) {
    Wire wire;
    wire.powerFailure();
    EXPECT_EQ(wire.takeBytes(), Bytes{powerFailRequest}) << "the first request goes out at once";
    wire.wait(999ms);
    EXPECT_TRUE(wire.takeBytes().empty());
    wire.wait(1ms);
    EXPECT_EQ(wire.takeBytes(), Bytes{powerFailRequest});
    wire.wait(3s);
    EXPECT_EQ(wire.takeBytes(), (Bytes{powerFailRequest, powerFailRequest, powerFailRequest}));

    wire.send({0x04, 0x66, 0x00});
    EXPECT_TRUE(wire.takeBytes().empty()) << "transmissions are ignored until the request is answered";
    EXPECT_TRUE(wire.takeFrames().empty());

    wire.sendMacroDownload();
    EXPECT_EQ(wire.takeBytes(), Bytes{0x00}) << "checksum of 42 zero bytes";
    EXPECT_EQ(wire.engine.state(), State::AwaitingMacroAcknowledge);
    wire.send({acknowledgeByte});
    EXPECT_EQ(wire.takeBytes(), Bytes{readyByte});
    EXPECT_EQ(wire.engine.state(), State::Idle);

    wire.wait(5s);
    EXPECT_TRUE(wire.takeBytes().empty()) << "answered: no more requests";
    wire.send({0x04, 0x66});
    EXPECT_EQ(wire.takeBytes(), Bytes{0x6A});
}

TEST(PowerFailure, MacroChecksumIsTheSumOfTheDataBytes) {
    Wire wire;
    wire.powerFailure();
    wire.takeBytes();
    wire.sendMacroDownload(0x07);
    EXPECT_EQ(wire.takeBytes(), Bytes{static_cast<std::uint8_t>((42 * 0x07) & 0xFF)});
}

TEST(PowerFailure, DownloadCutShortGoesBackToRequesting) {
    Wire wire;
    wire.powerFailure();
    wire.takeBytes();
    wire.send({macroDownload, 0x00, 0x00});
    EXPECT_EQ(wire.engine.state(), State::ReceivingMacro);
    wire.wait(999ms);
    EXPECT_TRUE(wire.takeBytes().empty()) << "no requests while the download is arriving";
    wire.wait(1ms);
    EXPECT_EQ(wire.engine.state(), State::PowerFailRequesting);
    EXPECT_EQ(wire.takeBytes(), Bytes{powerFailRequest});
}

TEST(PowerFailure, NewTransmissionAfterTheMacroEchoTakesOverFromTheAcknowledge) {
    Wire wire;
    wire.powerFailure();
    wire.sendMacroDownload();
    wire.takeBytes();
    wire.send({0x06, 0x61});
    EXPECT_EQ(wire.takeBytes(), Bytes{0x67}) << "the new transmission is echoed";
    wire.send({acknowledgeByte});
    EXPECT_EQ(wire.takeBytes(), Bytes{readyByte});
    wire.wait(3s);
    EXPECT_TRUE(wire.takeBytes().empty()) << "the download answered the power failure";
}

TEST(PowerFailure, AbandonsATransmissionUnderWay) {
    Wire wire;
    wire.send({0x04, 0x66});
    wire.powerFailure();
    wire.send({acknowledgeByte});
    EXPECT_TRUE(wire.takeFrames().empty());
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x6A, powerFailRequest}));
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

TEST_P(Faults, HitTheNextTransmissionOnceThenTheInterfaceBehavesAgain) {
    const FaultCase& c = GetParam();
    Wire wire;
    wire.inject(c.fault);
    EXPECT_EQ(wire.engine.armedCount(c.fault), 1);
    wire.send({0x04, 0x66});
    EXPECT_EQ(wire.takeBytes(), c.afterTransmission);
    wire.send({acknowledgeByte});
    EXPECT_EQ(wire.takeBytes(), c.afterAcknowledge);
    EXPECT_EQ(wire.takeFrames().size(), c.frames);
    EXPECT_EQ(wire.engine.armedCount(c.fault), 0);

    wire.send({0x06, 0x62, 0x00});
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x68, readyByte}));
    EXPECT_EQ(wire.takeFrames().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(OneEach, Faults,
                         ::testing::Values(FaultCase{"WrongEcho", Fault::WrongEcho, {0x6B}, {readyByte}, 1},
                                           FaultCase{"NoAnswer", Fault::NoAnswer, {}, {}, 0},
                                           FaultCase{"NotReady", Fault::NotReady, {0x6A}, {notReady}, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Faults, StrayBytesGoOutAtOnceWhenIdle) {
    Wire wire;
    wire.inject(Fault::StrayBytes);
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x5A, 0x33}));
    EXPECT_EQ(wire.engine.armedCount(Fault::StrayBytes), 0);
}

TEST(Faults, StrayBytesWaitForTheEndOfAHandshake) {
    Wire wire;
    wire.send({0x04, 0x66});
    wire.inject(Fault::StrayBytes);
    wire.send({});
    EXPECT_EQ(wire.takeBytes(), Bytes{0x6A});
    wire.send({acknowledgeByte});
    EXPECT_EQ(wire.takeBytes(), (Bytes{readyByte, 0x5A, 0x33}));
}

TEST(Faults, CombineAndCount) {
    Wire wire;
    wire.inject(Fault::WrongEcho);
    wire.inject(Fault::WrongEcho);
    wire.inject(Fault::NotReady);
    wire.send({0x04, 0x66, 0x00});
    wire.send({0x06, 0x62, 0x00});
    wire.send({0x06, 0x63, 0x00});
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x6B, notReady, 0x69, readyByte, 0x69, readyByte}));
}

TEST(Faults, NoneDisarmsEverything) {
    Wire wire;
    wire.send({0x04, 0x66});  // awaiting the acknowledge, so stray bytes stay armed too
    for (Fault fault : {Fault::WrongEcho, Fault::NoAnswer, Fault::NotReady, Fault::StrayBytes}) wire.inject(fault);
    wire.inject(Fault::None);
    for (Fault fault : {Fault::WrongEcho, Fault::NoAnswer, Fault::NotReady, Fault::StrayBytes})
        EXPECT_EQ(wire.engine.armedCount(fault), 0);
    wire.send({acknowledgeByte});
    wire.send({0x06, 0x62, 0x00});
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x6A, readyByte, 0x68, readyByte}));
}

TEST(Timing, RejectsValuesThatWouldNeverLetTimeMoveOn) {
    for (auto limit : {&InterfaceProtocol::Timing::powerFailRepeat, &InterfaceProtocol::Timing::silenceLimit,
                       &InterfaceProtocol::Timing::pollRepeat, &InterfaceProtocol::Timing::clockHeaderSilence}) {
        InterfaceProtocol::Timing timing;
        timing.*limit = 0us;
        EXPECT_THROW(InterfaceProtocol{timing}, std::invalid_argument);
    }
}

Frame extendedCode() {
    const std::uint8_t bytes[] = {0x07, 0x67, 0x6E, 0x10, 0x31};  // A Extended Code, unit 2, data 0x10, command 0x31
    return Frame::decode(bytes);
}

// What other transmitters sent, and the upload that follows the poll and its answer.
struct UploadCase {
    const char* name;
    std::vector<Frame> heard;
    Bytes upload;
};

void PrintTo(const UploadCase& c, std::ostream* out) { *out << c.name; }

class Upload : public ::testing::TestWithParam<UploadCase> {};

TEST_P(Upload, PollsAtOnceThenSendsSizeMaskAndDataAfterTheAnswer) {
    Wire wire;
    for (const Frame& frame : GetParam().heard) wire.hear({frame});
    EXPECT_EQ(wire.takeBytes(), Bytes{uploadPoll}) << "one poll, at once, however much was heard";
    EXPECT_TRUE(wire.takeFrames().empty()) << "the interface puts nothing on the line for what it heard";
    wire.send({pollAnswer});
    EXPECT_EQ(wire.takeBytes(), GetParam().upload);
    EXPECT_TRUE(wire.engine.uploadBuffer().empty());
    wire.wait(5s);
    EXPECT_TRUE(wire.takeBytes().empty()) << "uploaded: no more polls";
}

INSTANTIATE_TEST_SUITE_P(
    Heard, Upload,
    ::testing::Values(
        UploadCase{"AddressThenFunction",
                   {Frame::forAddress('A', 1), Frame::forFunction('A', FunctionCode::On)},
                   {0x03, 0b10, 0x66, 0x62}},
        UploadCase{"TwoUnitsOneFunction",
                   {Frame::forAddress('A', 1), Frame::forAddress('A', 3), Frame::forFunction('A', FunctionCode::Off)},
                   {0x04, 0b100, 0x66, 0x62, 0x63}},
        UploadCase{
            "DimBringsItsLevelIn210ths", {Frame::forFunction('A', FunctionCode::Dim, 11)}, {0x03, 0b1, 0x64, 105}},
        UploadCase{"BrightFullRange", {Frame::forFunction('E', FunctionCode::Bright, 22)}, {0x03, 0b1, 0x15, 210}},
        UploadCase{"SeveralHouses",
                   {Frame::forAddress('B', 2), Frame::forFunction('B', FunctionCode::On), Frame::forAddress('P', 16),
                    Frame::forFunction('P', FunctionCode::Off), Frame::forFunction('M', FunctionCode::AllLightsOff)},
                   {0x06, 0b11010, 0xEE, 0xE2, 0xCC, 0xC3, 0x06}},
        UploadCase{"ExtendedCodeBringsDataAndCommand", {extendedCode()}, {0x04, 0b1, 0x67, 0x10, 0x31}},
        UploadCase{"FullBufferKeepsTheFirstEight",
                   {Frame::forAddress('C', 1), Frame::forAddress('C', 2), Frame::forAddress('C', 3),
                    Frame::forAddress('C', 4), Frame::forAddress('C', 5), Frame::forAddress('C', 6),
                    Frame::forAddress('C', 7), Frame::forAddress('C', 8), Frame::forAddress('C', 9)},
                   {0x09, 0x00, 0x26, 0x2E, 0x22, 0x2A, 0x21, 0x29, 0x25, 0x2D}},
        UploadCase{
            "ADimThatDoesNotFitWholeIsNotKept",
            {Frame::forAddress('C', 1), Frame::forAddress('C', 2), Frame::forAddress('C', 3), Frame::forAddress('C', 4),
             Frame::forAddress('C', 5), Frame::forAddress('C', 6), Frame::forAddress('C', 7),
             Frame::forFunction('C', FunctionCode::Dim, 2), Frame::forFunction('C', FunctionCode::On)},
            {0x09, 0x80, 0x26, 0x2E, 0x22, 0x2A, 0x21, 0x29, 0x25, 0x22}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Upload, PollRepeatsOnceASecondUntilAnswered) {
    Wire wire;
    wire.send({pollAnswer});
    EXPECT_TRUE(wire.takeBytes().empty()) << "0xC3 with nothing to upload is ignored";
    wire.hear({Frame::forAddress('A', 1)});
    EXPECT_EQ(wire.takeBytes(), Bytes{uploadPoll});
    wire.wait(999ms);
    EXPECT_TRUE(wire.takeBytes().empty());
    wire.wait(1ms);
    EXPECT_EQ(wire.takeBytes(), Bytes{uploadPoll});
    wire.wait(2s);
    EXPECT_EQ(wire.takeBytes(), (Bytes{uploadPoll, uploadPoll}));
    wire.send({pollAnswer});
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x02, 0x00, 0x66}));
}

// Where a poll meets a transmission of the computer: the bytes the computer gets, and whether
// the transmission went out.
TEST(Upload, TransmissionWhileNewsWaitsIsNotTakenAndThePollKeepsItsRhythm) {
    Wire wire;
    wire.hear({Frame::forAddress('B', 1)});
    wire.takeBytes();
    wire.wait(400ms);
    wire.send({0x04, 0x66});
    EXPECT_TRUE(wire.takeBytes().empty()) << "neither the echo 0x6A nor an extra poll";
    EXPECT_EQ(wire.engine.state(), State::Idle);
    wire.send({acknowledgeByte});
    EXPECT_TRUE(wire.takeFrames().empty()) << "a transmission not echoed is not taken";
    wire.wait(599ms);
    EXPECT_TRUE(wire.takeBytes().empty());
    wire.wait(1ms);
    EXPECT_EQ(wire.takeBytes(), Bytes{uploadPoll}) << "one second after the first poll";
    wire.send({pollAnswer});
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x02, 0x00, 0xE6}));
    wire.send({0x04, 0x66, acknowledgeByte});
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x6A, readyByte}));
    EXPECT_EQ(wire.takeFrames().size(), 1u);
}

TEST(Upload, NewsDuringAFrameTakesThePlaceOfItsReadyByte) {
    Wire wire(InterfaceProtocol::Timing::realistic());
    wire.send({0x04, 0x66});
    wire.wait(10ms);
    wire.send({acknowledgeByte});
    wire.hear({Frame::forFunction('B', FunctionCode::AllUnitsOff)});
    wire.wait(1s);
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x6A, uploadPoll})) << "no poll during the frame, and no 0x55 after it";
    EXPECT_EQ(wire.takeFrames().size(), 1u) << "the transmission went out";
    wire.send({pollAnswer});
    wire.wait(10ms);
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x02, 0x01, 0xE0}));
}

TEST(Upload, NewsWhileTheEchoAwaitsItsAcknowledgeIsPolledAtOnce) {
    Wire wire;
    wire.send({0x04, 0x66});
    wire.hear({Frame::forAddress('B', 1)});
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x6A, uploadPoll}));
    // Acknowledged: the frame goes out, and the poll comes again in place of its 0x55.
    wire.send({acknowledgeByte});
    EXPECT_EQ(wire.takeBytes(), Bytes{uploadPoll});
    EXPECT_EQ(wire.takeFrames().size(), 1u);

    // Answered instead: the pending transmission is abandoned and the upload follows.
    Wire other;
    other.send({0x04, 0x66});
    other.hear({Frame::forAddress('B', 1)});
    other.takeBytes();
    other.send({pollAnswer, acknowledgeByte});
    EXPECT_EQ(other.takeBytes(), (Bytes{0x02, 0x00, 0xE6}));
    EXPECT_TRUE(other.takeFrames().empty());
}

TEST(Upload, WaitsForAPowerFailRequestToBeAnswered) {
    Wire wire;
    wire.powerFailure();
    wire.hear({Frame::forAddress('A', 1)});
    EXPECT_EQ(wire.takeBytes(), Bytes{powerFailRequest});
    wire.sendMacroDownload();
    wire.send({acknowledgeByte});
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x00, readyByte, uploadPoll}));
}

TEST(Faults, UploadCutShortAndSizeOutOfRange) {
    Wire wire;
    wire.inject(Fault::UploadCutShort);
    wire.inject(Fault::UploadSizeOutOfRange);
    wire.hear({Frame::forAddress('A', 1), Frame::forFunction('A', FunctionCode::On)});
    wire.send({pollAnswer});
    EXPECT_EQ(wire.takeBytes(), (Bytes{uploadPoll, 0x0A, 0b10})) << "both faults on one upload";
    EXPECT_TRUE(wire.engine.uploadBuffer().empty()) << "the interface believes it has uploaded";
    wire.hear({Frame::forAddress('A', 2)});
    wire.send({pollAnswer});
    EXPECT_EQ(wire.takeBytes(), (Bytes{uploadPoll, 0x02, 0x00, 0x6E})) << "the next upload is whole";
}

TEST(Status, RequestIsAnsweredAtOnceWithFourteenBytesFromTheModel) {
    Wire wire;
    wire.engine.setMonitoredUnitsSource([](char house) {
        EXPECT_EQ(house, 'B');
        return MonitoredUnits{0x0040, 0x4040, 0x0001};
    });
    // 30 s past 13:05 on year day 300 (bit 8 in bit 7 of the next byte), a Tuesday; monitors B
    // and clears the battery timer.
    wire.send({clockSetting, 30, 65, 6, 300 & 0xFF, 0x80 | 0x04, 0xE2});
    EXPECT_EQ(wire.takeBytes(), Bytes{static_cast<std::uint8_t>((30 + 65 + 6 + 44 + 0x84 + 0xE2) & 0xFF)});
    wire.send({acknowledgeByte});
    EXPECT_EQ(wire.takeBytes(), Bytes{readyByte});
    EXPECT_TRUE(wire.takeFrames().empty());

    wire.wait(std::chrono::hours(11));  // past midnight: 00:05:30, a day on
    wire.send({statusRequest});
    // Bit 8 of the day in bit 7 beside Wednesday's bit; house B's code in the high nibble.
    EXPECT_EQ(wire.takeBytes(), (Bytes{0x00, 0x00, 30, 5, 0, 301 & 0xFF, 0x80 | 0x08, 0xE0 | firmwareRevision, 0x40,
                                       0x00, 0x40, 0x40, 0x01, 0x00}));
    EXPECT_EQ(wire.engine.state(), State::Idle);
}

TEST(Status, AfterAColdStartTheBatteryTimerIsAllOnes) {
    Wire wire;
    wire.send({statusRequest});
    const Bytes reply = wire.takeBytes();
    ASSERT_EQ(reply.size(), std::size_t(statusReplyBytes));
    EXPECT_EQ(reply[0], 0xFF);
    EXPECT_EQ(reply[1], 0xFF);
}

TEST(ClockSetting, IsNeverTakenForTransmissions) {
    Wire wire;
    // Data bytes that look like "C All Lights On" (0x06 0x21) and an address header.
    wire.send({clockSetting, 0x06, 0x21, 0x04, 0x66, 0x00, 0x60});
    EXPECT_EQ(wire.takeBytes(), Bytes{static_cast<std::uint8_t>(0x06 + 0x21 + 0x04 + 0x66 + 0x60)});
    EXPECT_EQ(wire.engine.state(), State::AwaitingClockAcknowledge);
    wire.send({acknowledgeByte});
    EXPECT_EQ(wire.takeBytes(), Bytes{readyByte});
    EXPECT_TRUE(wire.takeFrames().empty());
}

// The answers to a power-fail request, and whether the interface is back in service after them.
struct PowerFailCase {
    const char* name;
    PowerFailAnswer accepted;
    Bytes answer;
    InterfaceProtocol::Duration silence;
    bool answered;
};

void PrintTo(const PowerFailCase& c, std::ostream* out) { *out << c.name; }

class PowerFailAnswers : public ::testing::TestWithParam<PowerFailCase> {};

TEST_P(PowerFailAnswers, SatisfyTheRequestOrNot) {
    const PowerFailCase& c = GetParam();
    Wire wire(InterfaceProtocol::Timing::immediate(), c.accepted);
    wire.powerFailure();
    wire.takeBytes();
    for (std::uint8_t byte : c.answer) wire.send({byte});
    wire.wait(c.silence);
    wire.takeBytes();
    wire.wait(3s);
    EXPECT_EQ(wire.takeBytes().empty(), c.answered) << "requests go on only while unanswered";
    if (c.answered) {
        wire.send({0x04, 0x66});
        EXPECT_EQ(wire.takeBytes(), Bytes{0x6A});
    }
}

Bytes emptyMacroDownload() {
    Bytes bytes{macroDownload};
    bytes.resize(1 + macroDataBytes, 0x00);
    return bytes;
}

// A memory block for address 0 whose first data byte looks like a clock setting's header.
Bytes memoryBlockWithAClockHeaderInside() {
    Bytes bytes{memoryDownload, 0x00, 0x00, clockSetting};
    bytes.resize(1 + memoryBlockBytes, 0x00);
    bytes.push_back(acknowledgeByte);
    return bytes;
}

constexpr auto either = PowerFailAnswer::MacroOrClock;
constexpr auto clockOnly = PowerFailAnswer::ClockOnly;
const Bytes clockAnswer{clockSetting, 0, 0, 0, 1, 0x01, 0x60, acknowledgeByte};

INSTANTIATE_TEST_SUITE_P(
    Answers, PowerFailAnswers,
    ::testing::Values(PowerFailCase{"ClockSetting", either, clockAnswer, 0us, true},
                      PowerFailCase{"ClockHeaderAloneThenSilence", either, {clockSetting}, 10ms, true},
                      PowerFailCase{"ClockSettingCutShort", either, {clockSetting, 0, 0}, 1s, false},
                      PowerFailCase{"NeitherAnswer", either, {0x04, 0x66, pollAnswer}, 0us, false},
                      PowerFailCase{"MacroDownload", either, emptyMacroDownload(), 0us, true},
                      PowerFailCase{"ClockInterfaceTakesTheClockSetting", clockOnly, clockAnswer, 0us, true},
                      PowerFailCase{"ClockInterfaceTakesTheHeaderAlone", clockOnly, {clockSetting}, 10ms, true},
                      // The mismatch: requests go on for ever, once a second.
                      PowerFailCase{"ClockInterfaceIgnoresTheMacroDownload", clockOnly, emptyMacroDownload(), 0us,
                                    false},
                      PowerFailCase{"ClockInterfaceReadsAMemoryBlockWhole", clockOnly,
                                    memoryBlockWithAClockHeaderInside(), 0us, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A memory block: echoed with the sum of its 18 bytes, stored only once acknowledged, and never
// taken for a transmission.
TEST(MemoryDownload, IsEchoedThenStoredAfterItsAcknowledge) {
    Wire wire;
    Bytes block{memoryDownload, 0x01, 0xF8};  // address 0x01F8, data 0x04 0x66 ... (look like A1)
    for (int i = 0; i < memoryBlockDataBytes; ++i) block.push_back(i % 2 == 0 ? 0x04 : 0x66);
    for (std::uint8_t byte : block) wire.send({byte});
    const unsigned sum = 0x01 + 0xF8 + 8 * (0x04 + 0x66);
    EXPECT_EQ(wire.takeBytes(), Bytes{static_cast<std::uint8_t>(sum & 0xFF)});
    EXPECT_EQ(wire.engine.memoryByte(0x01F8), 0x00) << "not stored before the acknowledge";
    wire.send({acknowledgeByte});
    EXPECT_EQ(wire.takeBytes(), Bytes{readyByte});
    EXPECT_TRUE(wire.takeFrames().empty());
    EXPECT_EQ(wire.engine.memoryByte(0x01F8), 0x04);
    EXPECT_EQ(wire.engine.memoryByte(0x01F8 + 15), 0x66);
    EXPECT_EQ(wire.engine.memoryByte(0x01F8 + 16), 0x00);

    // A transmission instead of the acknowledge: the block is dropped, the transmission taken.
    block[2] = 0x00;
    for (std::uint8_t byte : block) wire.send({byte});
    wire.send({0x04, 0x66});
    EXPECT_EQ(wire.takeBytes(), (Bytes{static_cast<std::uint8_t>((sum - 0xF8) & 0xFF), 0x6A}));
    EXPECT_EQ(wire.engine.memoryByte(0x0100), 0x00);
}

}  // namespace
}  // namespace x10sim
