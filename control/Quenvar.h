#pragma once
// The quenvar control's behaviour: its seven fields, the link layer that talks to the
// power-line interface (openx10, closex10, sendx10 and the receive handler), the argument
// checks and the seven lighting commands.
//
// One class, three source files:
// - QuenvarLink.cpp: construction, the fields, openx10 / closex10 / sendx10, the receive handler
//   (the handshake's state machine) and the calls out to the host;
// - QuenvarCommands.cpp: the argument checks, gethouse / getunit and the lighting commands;
// - QuenvarUpload.cpp: reading the interface's uploads and telling them as x10received.
// The code tables and the transmission value are in X10Codes.h, the upload's decoding in
// UploadDecoder.h.
//
// Plain C++: the serial component and the message boxes come in through interfaces, so the
// whole protocol runs the same against a real port and against a scripted one.
//
// Bytes are one-character texts (single-byte code page): the byte value of a text is the code
// of its first character. Every member runs on the owner's thread; the receive handler runs
// from the serial component's notifications, between the host's calls.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/UploadDecoder.h"
#include "control/X10Codes.h"
#include "platform/automation/Collection.h"
#include "platform/automation/LivenessToken.h"
#include "platform/serial/SerialComponent.h"
#include "platform/ui/MessageBoxes.h"

namespace quenvar::control {

// The texts the control shows to the user.
namespace message {
inline constexpr const char* portClosed = "Port must be open before you can call a command";
inline constexpr const char* badHouse = "The housecode must be between A and P";
inline constexpr const char* badUnit = "The Unitcode must be between 1 and 16";
inline constexpr const char* badDim = "Dim value must between 5 and 95";
inline constexpr const char* notResponding = "Interface is not responding";
inline constexpr const char* errorTitle = "Error";
// Boxes shown without a title of their own carry the library's name.
inline constexpr const char* libraryTitle = "quenvar";
}  // namespace message

// Values of comstatus.
namespace handshake {
inline constexpr std::int16_t idle = 0;
inline constexpr std::int16_t awaitingEcho = 1;
inline constexpr std::int16_t awaitingReady = 99;
}  // namespace handshake

// Values of powerfailreply: how the control answers the interface's power-fail request.
namespace power_fail_reply {
// 0xFB and 42 bytes 0x00: an empty macro download, what the interfaces without a clock want.
inline constexpr std::int16_t macroDownload = 0;
// 0x9B and six bytes: the host's local time and day, monitored house A, no flags; what the
// interfaces with a clock want (they take 0xFB as the start of a memory block).
inline constexpr std::int16_t clockSetting = 1;
}  // namespace power_fail_reply

class Quenvar {
public:
    // Takes ownership of the serial component (MSComm1) and binds its notifications to the
    // receive handler for the control's whole life. `boxes` must outlive the control.
    Quenvar(std::unique_ptr<serial::SerialComponent> msComm1, ui::MessageBoxes& boxes);
    ~Quenvar();
    Quenvar(const Quenvar&) = delete;
    Quenvar& operator=(const Quenvar&) = delete;

    // --- fields (read and written by the host as plain properties) ---
    std::int16_t comstatus() const { return comstatus_; }
    void setComstatus(std::int16_t value) { comstatus_ = value; }
    const std::string& strtotal() const { return strtotal_; }
    void setStrtotal(std::string value) { strtotal_ = std::move(value); }
    bool sendstatus() const { return sendstatus_; }
    void setSendstatus(bool value) { sendstatus_ = value; }
    // The send queue; created empty on first access.
    const automation::CollectionRef& colstring();
    // Stores the given queue (or none: the next access creates a fresh one).
    void setColstring(automation::CollectionRef queue) { colstring_ = std::move(queue); }
    const std::string& checksum() const { return checksum_; }
    void setChecksum(std::string value) { checksum_ = std::move(value); }
    std::int16_t countmacro() const { return countmacro_; }
    void setCountmacro(std::int16_t value) { countmacro_ = value; }
    std::int16_t powerfailreply() const { return powerfailreply_; }
    // Takes power_fail_reply::macroDownload or clockSetting; any other value raises run-time
    // error 380 ("Invalid property value") and the field keeps its value.
    void setPowerfailreply(std::int16_t value);

    // Where the clock setting takes the time from: the host's local time unless a test gives
    // another source. Called on the owner's thread, once per clock setting sent.
    using LocalClock = std::function<x10::LocalTime()>;
    void setLocalClock(LocalClock clock) { localClock_ = std::move(clock); }

    // --- link layer ---
    void openx10(std::int16_t port);
    void closex10();
    void sendx10(const std::string& str1, const std::string& str2);

    // --- lighting commands ---
    void lightson(const std::string& house);
    void Lightsoff(const std::string& house);
    void alloff(const std::string& house);
    void x10on(const std::string& house, const std::string& unit);
    void x10off(const std::string& house, const std::string& unit);
    void x10dim(const std::string& house, const std::string& unit, std::int16_t dimvalue);
    void x10brighten(const std::string& house, const std::string& unit, std::int16_t dimvalue);

    // The event x10ready: everything queued has gone out. The handler runs inside the receive
    // handler; the control goes on only after it has returned. The handler may destroy the
    // control, as may the host's code run while one of the control's message boxes is open: the
    // receive handler then ends its turn without touching the control again.
    void setX10readyHandler(std::function<void()> handler) { x10ready_ = std::move(handler); }

    // The event x10received: the interface heard another transmitter on the power line; the
    // handler runs once per function heard, in order, inside the receive handler, once the
    // upload has been read whole. A transmission the host starts meanwhile (a command from the
    // handler) waits in the send queue and goes out after what the control was doing when the
    // interface polled. The handler may destroy the control, as the x10ready handler may.
    using X10receivedHandler = std::function<void(const HeardFunction&)>;
    void setX10receivedHandler(X10receivedHandler handler) { x10received_ = std::move(handler); }

    // Told each time the control acknowledges a checksum echo (writes 0x00), with the
    // transmission that echo belonged to: from then on the interface puts it on the power line.
    // An account of what went out; it changes nothing in the handshake and must not call the
    // control.
    using TransmissionAcknowledged = std::function<void(const x10::Transmission&)>;
    void setTransmissionAcknowledged(TransmissionAcknowledged observer) {
        transmissionAcknowledged_ = std::move(observer);
    }

    serial::SerialComponent& MSComm1() { return *msComm1_; }

private:
    friend class QuenvarInternals;  // lets tests reach the private look-ups

    static std::int16_t gethouse(const std::string& house);
    static std::int16_t getunit(const std::string& unit);

    // The receive handler, run once per notification of MSComm1: one switch on comstatus, each
    // state's reaction to a received byte in its case. comstatus changes only there, in sendx10
    // and in goOnAfterReady, the reaction to the ready byte (which an upload read in its place
    // ends with too).
    void onComm();

    // --- the power-fail reply ---
    // The reply is written at once. A clock setting, and a macro download that broke into a
    // command, then run their own handshake (echo, 0x00, 0x55) here, apart from comstatus: no
    // x10ready, no box. A command the request broke into has lost its transmission with the
    // mains: it goes out again once the reply's handshake is over, and the command goes on.
    struct ReplyUnderWay {
        std::uint8_t echo = 0;      // the sum of the reply's data bytes
        bool acknowledged = false;  // the echo came and 0x00 went: 0x55 is awaited
        bool resumeCommand = false;
    };
    void answerPowerFail(bool resumeCommand);
    // False while x10ready is being raised and the host has started no transmission since: the
    // state is still 1 then, but nothing awaits the interface and nothing is to be sent again.
    bool transmissionOutstanding() const { return !readyRaisedAfter_ || *readyRaisedAfter_ != transmissionsSent_; }
    void readReplyByte(int byte);
    // The reply's handshake is over (or given up): the command it broke into goes out again;
    // else, when the host started transmissions meanwhile, the first of them goes out.
    void endReply(bool transmissionsHeld);
    // The transmission is on the power line: the queue's next one goes out, or, the queue empty,
    // x10ready is raised and the control goes idle.
    void goOnAfterReady();

    // A call out to the host (an event handler; a message box, whose event loop runs the host's
    // code and the port's further notifications) may release the control, start a transmission
    // or answer a new poll before it returns. What the receive handler does next depends on
    // which, so each such call goes through callHost and the handler decides from its outcome,
    // never from state it read before the call.
    struct HostCallOutcome {
        bool controlGone = false;          // released: nothing of the control may be touched
        bool transmissionStarted = false;  // its echo is awaited: the control stays busy
        bool uploadBegun = false;          // the interface polled again: its upload takes over
    };
    HostCallOutcome callHost(const std::function<void()>& call);
    // Takes the front pair of the send queue and sends it.
    void sendFrontPair();

    // --- uploads (QuenvarUpload.cpp) ---
    // What the control does once an upload has been read: the poll came while it was idle, in
    // place of the echo (the interface did not take the transmission), or in place of the
    // ready byte (it did).
    enum class AfterUpload { StayIdle, SendAgain, GoOnAsAfterReady };
    struct UploadUnderWay {
        AfterUpload after = AfterUpload::StayIdle;
        bool reading = true;              // false once the bytes are in and being told to the host
        std::size_t size = 0;             // bytes announced by the size byte; 0 until it has come
        std::vector<std::uint8_t> bytes;  // mask and data bytes read so far
        bool transmissionsHeld = false;   // the host started transmissions meanwhile
    };
    void beginUpload(AfterUpload after);
    void readUploadByte(int byte);
    void endUpload(const std::vector<HeardFunction>& heard);
    // The transmissions just queued were started while an upload or a power-fail reply is under
    // way: they go out once it is over.
    void holdQueuedTransmissions();
    bool holdsTransmissions() const { return upload_.has_value() || reply_.has_value(); }

    bool portCheck();
    bool houseCheck(const std::string& house);
    bool unitCheck(const std::string& unit);
    bool dimCheck(std::int16_t dimvalue);
    void reportCheck(const char* message);

    void sendHouseCommand(const std::string& house, x10::Function function);
    void sendUnitCommand(const std::string& house, const std::string& unit, x10::Function function,
                         std::int16_t header = x10::functionHeader);
    // A transmission the control makes goes the way of the host's: through sendx10 or the queue.
    void send(const x10::Transmission& transmission);
    void queueTransmission(const x10::Transmission& transmission);
    void queueTransmission(const std::string& header, const std::string& code);
    // Reads one received byte; false when the serial component delivered nothing.
    bool readReceivedByte(int& byte);

    std::unique_ptr<serial::SerialComponent> msComm1_;
    ui::MessageBoxes& boxes_;
    std::function<void()> x10ready_;
    X10receivedHandler x10received_;
    TransmissionAcknowledged transmissionAcknowledged_;

    std::int16_t comstatus_ = handshake::idle;
    std::string strtotal_;
    bool sendstatus_ = false;
    automation::CollectionRef colstring_;
    std::string checksum_;
    std::int16_t countmacro_ = 0;
    std::int16_t powerfailreply_ = power_fail_reply::macroDownload;
    LocalClock localClock_;
    std::optional<ReplyUnderWay> reply_;

    // Counted for callHost's outcome.
    std::uint64_t transmissionsSent_ = 0;
    // While x10ready is raised: the transmissions counted when it was.
    std::optional<std::uint64_t> readyRaisedAfter_;
    // The latest transmission, for the account of acknowledged transmissions; and its texts as
    // the host gave them, to send it again when the interface did not take it.
    x10::Transmission latest_;
    std::string latestStr1_;
    std::string latestStr2_;

    std::optional<UploadUnderWay> upload_;
    std::uint64_t uploadsBegun_ = 0;  // counted for callHost's outcome
    // Which units each house has addressed, as heard: a command may come in two uploads.
    HouseSelections heardSelections_;

    automation::LivenessToken liveness_;
};

}  // namespace quenvar::control
