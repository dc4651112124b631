#pragma once
// x10sim: a power-line interface on a pseudo-terminal. The computer's side opens devicePath()
// like a serial port; the simulator answers as the interface does, sends frames on a modelled
// power line and keeps a record of everything, for tests (same process, same event loop) and
// for people (the x10sim program).
//
// What a caller may rely on:
// - All work happens on the thread that owns the Simulator, from its event loop; nothing blocks.
// - Without realTiming or wirePacing, replies are written while the received bytes are handled,
//   so they are on the line as soon as the event loop has run once; power-fail requests repeat
//   every second and a half-received transmission is dropped after one second of silence in
//   every mode.
// - With wirePacing, the interface hears a byte only once it is complete on the line and its own
//   bytes reach the pty only once they would have been sent (see SimulatorOptions::wirePacing);
//   receivedTimeline() and sentTimeline() hold the times the interface worked with.
// - frames(), changes(), receivedBytes() and sentBytes() only grow, in the order things happened;
//   each signal is emitted right after its record was appended.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <vector>

#include "sim/Frame.h"
#include "sim/HouseModel.h"
#include "sim/InterfaceProtocol.h"
#include "sim/PtyEndpoint.h"

namespace x10sim {

struct SimulatorOptions {
    // Pace replies like the real line: about 2.1 ms per byte at 4800 bit/s, about 0.42 s per
    // frame at 60 Hz (longer for Dim/Bright with several steps).
    bool realTiming = false;
    // When not empty, a symbolic link to the device is placed here by start() (an existing
    // symbolic link is replaced, anything else is refused) and removed when the Simulator ends.
    QString linkPath;
    // Start with the mains just back: 0xA5 requests from the first moment.
    bool powerFailureAtStart = false;
    // What answers a power-fail request: by default the empty macro download or a clock setting;
    // PowerFailAnswer::ClockOnly plays the interface that wants its clock (see InterfaceProtocol.h).
    PowerFailAnswer powerFailAnswer = PowerFailAnswer::MacroOrClock;
    // Pace the serial line itself, in both directions: a byte takes byteTimeOnWire (start, 8 data
    // and stop bits at 4800 bit/s). A byte from the computer is complete one byte time after it
    // arrived or after the previous one was complete, whichever is later, and only then does the
    // interface hear it; each byte the interface sends is complete one byte time after it was
    // produced or after the previous one was complete, whichever is later, and only then is it
    // written to the pty. Power-line frames take no time unless realTiming is also set.
    bool wirePacing = false;
};

// One byte on the line as the interface saw it, in the protocol's time (microseconds since the
// Simulator was made).
struct WireByte {
    std::uint8_t value = 0;
    // From the computer: when it arrived on the pty. From the interface: when it was produced.
    InterfaceProtocol::TimePoint ready{0};
    // When its stop bit was over: handed to the interface, or written to the pty. Equal to ready
    // without wirePacing.
    InterfaceProtocol::TimePoint complete{0};
};

// 10 bits at 4800 bit/s is 2083.3 us; rounded up so that the simulated line is never faster
// than the real one.
inline constexpr InterfaceProtocol::Duration byteTimeOnWire{2084};

class Simulator : public QObject {
    Q_OBJECT
public:
    explicit Simulator(SimulatorOptions options = {}, QObject* parent = nullptr);
    ~Simulator() override;

    // Opens the pseudo-terminal (and places the link). Throws std::runtime_error with a message
    // that says what failed and what to do.
    void start();
    bool isRunning() const { return pty_.isOpen(); }
    QString devicePath() const { return devicePath_; }

    const std::vector<Frame>& frames() const { return house_.frames(); }
    const std::vector<ModuleChange>& changes() const { return house_.changes(); }
    // house 'A'..'P', unit 1..16; throws std::out_of_range otherwise.
    ModuleState module(char house, int unit) const { return house_.module(house, unit); }
    QByteArray receivedBytes() const { return received_; }
    QByteArray sentBytes() const { return sent_; }
    InterfaceProtocol::State protocolState() const { return protocol_.state(); }
    PowerFailAnswer powerFailAnswer() const { return protocol_.powerFailAnswer(); }
    // Every byte handed to the interface / written to the pty, in order, with its times.
    const std::vector<WireByte>& receivedTimeline() const { return receivedTimeline_; }
    const std::vector<WireByte>& sentTimeline() const { return sentTimeline_; }

    void injectFault(Fault fault);
    // The mains came back: 0xA5 now and once a second until the computer answers.
    void powerFailure();
    // The device vanishes: the master closes and reads on the slave fail. Nothing more is sent.
    void disappear();
    // Another transmitter on the power line (a remote control, a wall switch) sends these
    // frames: the modules act on them, frameSent() reports each (origin OtherTransmitter), and
    // the interface hears them and polls the computer to upload them.
    void sendFromOtherTransmitter(const std::vector<Frame>& frames);

signals:
    void bytesReceived(const QByteArray& bytes);
    void bytesSent(const QByteArray& bytes);
    void frameSent(const x10sim::Frame& frame);
    void moduleChanged(const x10sim::ModuleChange& change);
    // The pseudo-terminal failed underneath the simulator (not emitted for disappear()).
    void lineLost(const QString& reason);

private:
    InterfaceProtocol::TimePoint now() const;
    // now(), but never earlier than a time already given to the protocol: with wirePacing a
    // byte is handed over at the moment it was complete, which may lie a little in the past.
    InterfaceProtocol::TimePoint protocolNow();
    InterfaceProtocol::TimePoint protocolTimeAtLeast(InterfaceProtocol::TimePoint time);
    void handleReceived(const QByteArray& bytes);
    void hearByte(std::uint8_t byte, InterfaceProtocol::TimePoint ready, InterfaceProtocol::TimePoint complete);
    // Hands everything the protocol produced to the line and the house, then waits for the
    // protocol's next deadline. `producedAt` is the protocol time of the call that produced it.
    void deliverOutput(InterfaceProtocol::TimePoint producedAt);
    void writeToComputer(const QByteArray& bytes);
    // wirePacing: handles every byte whose time has come, then waits for the next one.
    void runLine();
    void armLineTimer();
    void stopLine();

    struct Pending {
        std::uint8_t value;
        InterfaceProtocol::TimePoint ready;
        InterfaceProtocol::TimePoint complete;
    };

    SimulatorOptions options_;
    PtyEndpoint pty_;
    InterfaceProtocol protocol_;
    HouseModel house_;
    QElapsedTimer clock_;
    QTimer deadlineTimer_;
    QString devicePath_;
    QString placedLink_;
    QByteArray received_;
    QByteArray sent_;
    std::vector<WireByte> receivedTimeline_;
    std::vector<WireByte> sentTimeline_;
    InterfaceProtocol::TimePoint protocolTime_{0};

    // wirePacing: bytes still on the line in each direction, and the moment each direction is
    // free again. A timerfd wakes the simulator when the next byte is complete: QTimer counts
    // whole milliseconds, half a byte time.
    std::deque<Pending> inbound_;
    std::deque<Pending> outbound_;
    InterfaceProtocol::TimePoint inboundFreeAt_{0};
    InterfaceProtocol::TimePoint outboundFreeAt_{0};
    int lineTimerFd_ = -1;
    QSocketNotifier* lineTimer_ = nullptr;
};

}  // namespace x10sim
