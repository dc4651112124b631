#pragma once
// The power-line interface's side of the serial handshake, with no I/O and no Qt: bytes from the
// computer go in with the time they arrived; bytes for the computer and power-line frames come
// out, each at the moment the interface would produce it. The caller drives time explicitly
// (receive(), advance()) and asks nextDeadline() when it must call advance() again.
//
// What a caller may rely on:
// - Time given to receive()/advance()/injectFault()/powerFailure() never goes backwards; events
//   due at or before that time are produced before the call returns, in the order they happen.
// - A standard transmission is header + code; the header's bit 2 is always set, so any byte
//   without it is not taken as the start of a transmission. Bit 0 set means an extended
//   transmission of five bytes. The echo is the sum of the transmission's bytes modulo 256.
// - The frame goes out on the power line only after the computer acknowledges the echo with 0x00;
//   0x55 (ready) follows the frame. Any other byte while the echo awaits its acknowledge abandons
//   the pending transmission and is taken as the first byte of a new one.
// - A transmission left half-received for silenceLimit is dropped.
// - After powerFailure() the interface sends 0xA5 at once and then every powerFailRepeat until the
//   computer answers 0xFB followed by 42 data bytes; it then echoes the sum of those 42 bytes,
//   awaits 0x00 and sends 0x55. Everything else is ignored meanwhile.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <variant>
#include <vector>

#include "sim/Frame.h"

namespace x10sim {

// Misbehaviours to test the computer's side against. Each injection arms the fault once; it
// is used up by the next event it applies to, so several faults can be armed together and the
// same fault can be armed several times in a row (then it hits that many times).
enum class Fault {
    None,        // disarms every armed fault
    WrongEcho,   // the next transmission is echoed with checksum + 1
    NoAnswer,    // the next transmission is swallowed: no echo, nothing sent on the power line
    NotReady,    // after the next frame the interface answers 0xAA instead of 0x55
    StrayBytes,  // 0x5A then 0x33 to the computer, as soon as the interface is idle
};

inline constexpr std::uint8_t kAcknowledge = 0x00;
inline constexpr std::uint8_t kReady = 0x55;
inline constexpr std::uint8_t kNotReady = 0xAA;
inline constexpr std::uint8_t kPowerFailRequest = 0xA5;
inline constexpr std::uint8_t kMacroDownload = 0xFB;
inline constexpr int kMacroDataBytes = 42;
inline constexpr std::uint8_t kStrayBytes[] = {0x5A, 0x33};

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

        // Replies and frames at once; only the power-fail repeat and silence limit take time.
        static Timing immediate();
        // One byte time at 4800 bit/s (10 bits) per reply and 60 Hz mains.
        static Timing realistic();
    };

    enum class State {
        Idle,                      // collecting a transmission (possibly partly received)
        AwaitingAcknowledge,       // echo sent; waits for 0x00
        SendingOnPowerLine,        // frame going out; 0x55 follows
        PowerFailRequesting,       // sends 0xA5 once per powerFailRepeat
        ReceivingMacro,            // 0xFB received, collecting the 42 data bytes
        AwaitingMacroAcknowledge,  // echoed the macro checksum; waits for 0x00
    };

    explicit InterfaceProtocol(Timing timing = Timing::immediate());

    void receive(std::uint8_t byte, TimePoint now);
    void advance(TimePoint now);
    std::optional<TimePoint> nextDeadline() const;
    // Everything produced so far, in order; the internal list is emptied.
    std::vector<InterfaceOutput> takeOutput();

    void injectFault(Fault fault, TimePoint now);
    void powerFailure(TimePoint now);

    State state() const { return m_state; }
    int armedCount(Fault fault) const;

    // Mains cycles one transmission occupies on the power line: each frame is 11 cycles sent
    // twice plus a 3-cycle gap, and Dim/Bright repeat one 11-cycle frame per further step.
    static int cyclesOnPowerLine(const Frame& frame);

private:
    struct Scheduled {
        TimePoint due;
        InterfaceOutput output;
    };

    void handleByte(std::uint8_t byte, TimePoint now);
    void collect(std::uint8_t byte, TimePoint now);
    void transmissionComplete(TimePoint now);
    void finishFrame(TimePoint now);
    void becomeIdle(TimePoint now);
    void sendByte(std::uint8_t byte, TimePoint at);
    void runOneDeadline(TimePoint deadline);
    void releaseStrayBytesIfIdle(TimePoint now);

    Timing m_timing;
    State m_state = State::Idle;
    std::vector<std::uint8_t> m_collected;  // transmission or macro bytes received so far
    TimePoint m_lastByteAt{0};
    std::optional<Frame> m_pending;         // acknowledged or awaiting acknowledge
    TimePoint m_frameDoneAt{0};
    TimePoint m_nextPowerFailRequestAt{0};
    std::deque<Scheduled> m_scheduled;      // bytes not yet due, ordered by due time
    std::vector<InterfaceOutput> m_output;  // due and produced, not yet taken

    int m_wrongEcho = 0;
    int m_noAnswer = 0;
    int m_notReady = 0;
    int m_strayBytes = 0;
};

}  // namespace x10sim
