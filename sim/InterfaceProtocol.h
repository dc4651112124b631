#pragma once
// The power-line interface's side of the serial handshake, with no I/O and no Qt: bytes from the
// computer go in with the time they arrived; bytes for the computer and power-line frames come
// out, each at the moment the interface would produce it. The caller drives time explicitly
// (receive(), advance()) and asks nextDeadline() when it must call advance() again.
//
// What a caller may rely on:
// - Time given to receive()/advance()/injectFault()/powerFailure()/hear() never goes backwards;
//   events due at or before that time are produced before the call returns, in the order they
//   happen.
// - A standard transmission is header + code; the header's bit 2 is always set, so any byte
//   without it is not taken as the start of a transmission. Bit 0 set means an extended
//   transmission of five bytes. The echo is the sum of the transmission's bytes modulo 256.
// - The frame goes out on the power line only after the computer acknowledges the echo with 0x00;
//   0x55 (ready) follows the frame. Any other byte while the echo awaits its acknowledge abandons
//   the pending transmission and is taken as the first byte of a new one.
// - A transmission left half-received for silenceLimit is dropped.
// - After powerFailure() the interface sends 0xA5 at once and then every powerFailRepeat until the
//   computer answers. What answers it depends on the PowerFailAnswer the interface was made with:
//   either 0xFB followed by 42 data bytes (the interface echoes their sum, awaits 0x00, sends
//   0x55) or a clock setting (below), or a clock setting only. Everything else is ignored meanwhile.
// - Traffic of other transmitters (hear()) is kept in an upload buffer of uploadCapacity data
//   bytes: an address or a function takes one byte, Dim and Bright one more for the level change
//   in 210ths of the full range, an extended code two more (data, command). What does not fit
//   whole is not kept. While the buffer holds news the interface polls 0x5A: at once when it is
//   idle or awaiting an acknowledge, in place of the 0x55 after a frame, and again every
//   pollRepeat until the computer answers 0xC3. It then uploads: size (the bytes after it, mask
//   included), mask (bit i set when data byte i is a function), data bytes; the buffer is empty
//   again. A transmission that arrives while news waits is neither taken nor echoed, and the poll
//   keeps its rhythm: no extra poll answers it.
// - Requests with bit 2 clear, recognised when no transmission is half-received:
//   0x8B is answered at once with the 14-byte status: the battery timer (low byte first; 0xFFFF
//   after a cold start), seconds, minutes 0-119, hours / 2, the day of the year (from 0) in its
//   low eight bits; then a byte with bit 8 of that day in bit 7 and the weekday mask (bit 0
//   Sunday) in bits 0-6; then the monitored house's four-bit code in the high nibble and
//   firmwareRevision in the low one; then the monitored house's addressed, on and dimmed units,
//   three masks low byte first. A clock setting uses the same layout for the fields they share.
//   0x9B and six data bytes set the clock (the interface echoes the sum of the six, awaits 0x00,
//   sends 0x55). A clock setting also answers a power-fail request, as does its header alone
//   followed by clockHeaderSilence of silence.
//   0xEB and 0xDB switch the serial ring signal on and off: echoed as themselves, then 0x00, 0x55.
//   0xFB starts a memory block of memoryBlockBytes (address high byte first, then the data): the
//   interface echoes the sum of those bytes, awaits 0x00, stores the data and sends 0x55. Nothing
//   goes out on the power line for any of these requests.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <variant>
#include <vector>

#include "sim/Frame.h"

namespace x10sim {

// Misbehaviours to test the computer's side against. Each injection arms the fault once; it
// is used up by the next event it applies to, so several faults can be armed together and the
// same fault can be armed several times in a row (then it hits that many times).
enum class Fault {
    None,                  // disarms every armed fault
    WrongEcho,             // the next transmission is echoed with checksum + 1
    NoAnswer,              // the next transmission is swallowed: no echo, nothing sent on the power line
    NotReady,              // after the next frame the interface answers 0xAA instead of 0x55
    StrayBytes,            // 0x5A then 0x33 to the computer, as soon as the interface is idle
    UploadCutShort,        // the next upload stops after its size and mask bytes
    UploadSizeOutOfRange,  // the next upload's size byte is one more than a buffer can hold
};

inline constexpr std::uint8_t acknowledgeByte = 0x00;
inline constexpr std::uint8_t readyByte = 0x55;
inline constexpr std::uint8_t notReady = 0xAA;
inline constexpr std::uint8_t powerFailRequest = 0xA5;
inline constexpr std::uint8_t macroDownload = 0xFB;
inline constexpr int macroDataBytes = 42;
inline constexpr std::uint8_t strayBytes[] = {0x5A, 0x33};
inline constexpr std::uint8_t uploadPoll = 0x5A;
inline constexpr std::uint8_t pollAnswer = 0xC3;
inline constexpr int uploadCapacity = 8;  // data bytes after the mask
inline constexpr std::uint8_t statusRequest = 0x8B;
inline constexpr int statusReplyBytes = 14;
inline constexpr std::uint8_t clockSetting = 0x9B;
inline constexpr int clockDataBytes = 6;
inline constexpr std::uint8_t ringSignalOn = 0xEB;
inline constexpr std::uint8_t ringSignalOff = 0xDB;
inline constexpr std::uint8_t memoryDownload = macroDownload;  // the same header starts both
inline constexpr int memoryBlockBytes = 18;                    // address (2) and data (16)
inline constexpr int memoryBlockDataBytes = 16;
inline constexpr std::uint8_t firmwareRevision = 1;
// A level byte after Dim or Bright counts the change in 210ths of the full range.
inline constexpr int levelFullRange = 210;

// What the status reply tells of the monitored house: three masks in which bit n stands for the
// unit whose four-bit code is n.
struct MonitoredUnits {
    std::uint16_t addressed = 0;
    std::uint16_t on = 0;
    std::uint16_t dimmed = 0;
};

// What the interface takes as the answer to its power-fail request (0xA5).
enum class PowerFailAnswer {
    // The interface this system was built for: 0xFB and 42 data bytes (an empty macro download)
    // answers it, and so does a clock setting.
    MacroOrClock,
    // The interface that wants its clock: only a clock setting answers it, or the clock setting's
    // header alone followed by clockHeaderSilence of silence. 0xFB always starts a memory block;
    // one that arrives while the request is outstanding is read whole and ignored, so the
    // interface goes on requesting (a computer that answers with the macro download never gets
    // a transmission through).
    ClockOnly,
};

// Either a byte for the computer or a frame that went out on the power line.
using InterfaceOutput = std::variant<std::uint8_t, Frame>;

class InterfaceProtocol {
public:
    using Duration = std::chrono::microseconds;
    using TimePoint = std::chrono::microseconds;  // since an epoch of the caller's choice

    struct Timing {
        Duration replyDelay{0};  // from the last byte received to the reply going out
        Duration mainsCycle{0};  // frame lengths are counted in mains cycles
        Duration powerFailRepeat = std::chrono::seconds(1);
        Duration silenceLimit = std::chrono::seconds(1);
        Duration pollRepeat = std::chrono::seconds(1);
        // A clock-setting header alone, followed by this much silence, answers a power failure.
        Duration clockHeaderSilence = std::chrono::milliseconds(10);

        // Replies and frames at once; only the power-fail repeat and silence limit take time.
        static Timing immediate();
        // One byte time at 4800 bit/s (10 bits) per reply and 60 Hz mains.
        static Timing realistic();
    };

    enum class State {
        Idle,                       // collecting a transmission (possibly partly received)
        AwaitingAcknowledge,        // echo sent; waits for 0x00
        SendingOnPowerLine,         // frame going out; 0x55 follows
        PowerFailRequesting,        // sends 0xA5 once per powerFailRepeat
        ReceivingMacro,             // 0xFB received, collecting the 42 data bytes
        AwaitingMacroAcknowledge,   // echoed the macro checksum; waits for 0x00
        ReceivingClock,             // 0x9B received, collecting the six data bytes
        AwaitingClockAcknowledge,   // echoed the clock checksum; waits for 0x00
        AwaitingRingAcknowledge,    // echoed 0xEB or 0xDB; waits for 0x00
        ReceivingMemory,            // 0xFB received, collecting the address and 16 data bytes
        AwaitingMemoryAcknowledge,  // echoed the memory block's checksum; waits for 0x00
    };

    explicit InterfaceProtocol(Timing timing = Timing::immediate(),
                               PowerFailAnswer powerFailAnswer = PowerFailAnswer::MacroOrClock);

    void receive(std::uint8_t byte, TimePoint now);
    void advance(TimePoint now);
    std::optional<TimePoint> nextDeadline() const;
    // Everything produced so far, in order; the internal list is emptied.
    std::vector<InterfaceOutput> takeOutput();

    void injectFault(Fault fault, TimePoint now);
    void powerFailure(TimePoint now);
    // A frame of another transmitter went by on the power line.
    void hear(const Frame& frame, TimePoint now);
    // Where the status reply learns the state of the monitored house (house letter 'A'..'P');
    // without one it reports no unit addressed, on or dimmed.
    void setMonitoredUnitsSource(std::function<MonitoredUnits(char house)> source);

    State state() const { return state_; }
    PowerFailAnswer powerFailAnswer() const { return powerFailAnswer_; }
    // Whether the serial ring signal is on (0xEB) or off (0xDB, and after a cold start).
    bool ringSignal() const { return ringSignal_; }
    // The byte at `address` of the interface's memory as memory blocks left it (0 where none came).
    std::uint8_t memoryByte(std::uint16_t address) const;
    int armedCount(Fault fault) const;
    // The data bytes heard and not yet uploaded, and which of them are functions (bit i: byte i).
    const std::vector<std::uint8_t>& uploadBuffer() const { return heard_; }
    std::uint8_t uploadMask() const { return heardMask_; }
    bool pollPending() const { return pollSent_; }

    // Mains cycles one transmission occupies on the power line: each frame is 11 cycles sent
    // twice plus a 3-cycle gap, and Dim/Bright repeat one 11-cycle frame per further step.
    static int cyclesOnPowerLine(const Frame& frame);

private:
    struct Scheduled {
        TimePoint due;
        InterfaceOutput output;
    };

    struct Clock {
        int secondsOfYear = 0;  // year day * 86400 + time of day
        std::uint8_t dayMask = 0x01;
        std::uint8_t monitoredHouse = 0x6;  // four-bit code: A
        TimePoint setAt{0};
    };

    void handleByte(std::uint8_t byte, TimePoint now);
    void idleByte(std::uint8_t byte, TimePoint now);
    void collect(std::uint8_t byte, TimePoint now);
    void clockDataByte(std::uint8_t byte, TimePoint now);
    void memoryBlockByte(std::uint8_t byte, TimePoint now);
    void storeMemoryBlock();
    void powerFailByte(std::uint8_t byte, TimePoint now);
    void echoAndAwait(unsigned sum, State awaiting, TimePoint now);
    void acknowledgeRequest(std::uint8_t byte, TimePoint now);
    void setClock(TimePoint now);
    void sendStatus(TimePoint now);
    void sendPoll(TimePoint now);
    void upload(TimePoint now);
    std::optional<TimePoint> pollDeadline() const;
    void transmissionComplete(TimePoint now);
    void finishFrame(TimePoint now);
    void becomeIdle(TimePoint now);
    void sendByte(std::uint8_t byte, TimePoint at);
    void runOneDeadline(TimePoint deadline);
    void releaseStrayBytesIfIdle(TimePoint now);

    Timing timing_;
    PowerFailAnswer powerFailAnswer_;
    State state_ = State::Idle;
    std::vector<std::uint8_t> collected_;  // transmission or request bytes received so far
    TimePoint lastByteAt_{0};
    std::optional<Frame> pending_;  // acknowledged or awaiting acknowledge
    TimePoint frameDoneAt_{0};
    TimePoint nextPowerFailRequestAt_{0};
    std::deque<Scheduled> scheduled_;      // bytes not yet due, ordered by due time
    std::vector<InterfaceOutput> output_;  // due and produced, not yet taken
    bool clockAnswersPowerFail_ = false;   // the clock setting under way came after a 0xA5
    // ClockOnly: bytes of a memory block sent while a power-fail request is outstanding, still to
    // be read and ignored.
    int ignoredBlockBytes_ = 0;
    bool ringSignal_ = false;
    std::map<std::uint16_t, std::uint8_t> memory_;  // only the bytes memory blocks wrote
    Clock clock_;
    std::uint16_t batteryTimer_ = 0xFFFF;  // after a cold start
    std::function<MonitoredUnits(char)> monitoredUnits_;

    std::vector<std::uint8_t> heard_;  // upload buffer: data bytes heard
    std::uint8_t heardMask_ = 0;
    bool pollSent_ = false;  // a 0x5A is out and not yet answered 0xC3
    TimePoint nextPollAt_{0};

    int wrongEcho_ = 0;
    int noAnswer_ = 0;
    int notReady_ = 0;
    int strayBytes_ = 0;
    int uploadCutShort_ = 0;
    int uploadSizeOutOfRange_ = 0;
};

}  // namespace x10sim
