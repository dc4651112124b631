#pragma once
// x10sim: a power-line interface on a pseudo-terminal. The computer's side opens devicePath()
// like a serial port; the simulator answers as the interface does, sends frames on a modelled
// power line and keeps a record of everything, for tests (same process, same event loop) and
// for people (the x10sim program).
//
// What a caller may rely on:
// - All work happens on the thread that owns the Simulator, from its event loop; nothing blocks.
// - Without realTiming, replies are written while the received bytes are handled, so they are
//   on the line as soon as the event loop has run once; power-fail requests repeat every second
//   and a half-received transmission is dropped after one second of silence in both modes.
// - frames(), changes(), receivedBytes() and sentBytes() only grow, in the order things happened;
//   each signal is emitted right after its record was appended.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

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
};

class Simulator : public QObject {
    Q_OBJECT
public:
    explicit Simulator(SimulatorOptions options = {}, QObject* parent = nullptr);
    ~Simulator() override;

    // Opens the pseudo-terminal (and places the link). Throws std::runtime_error with a message
    // that says what failed and what to do.
    void start();
    bool isRunning() const { return m_pty.isOpen(); }
    QString devicePath() const { return m_devicePath; }

    const std::vector<Frame>& frames() const { return m_house.frames(); }
    const std::vector<ModuleChange>& changes() const { return m_house.changes(); }
    // house 'A'..'P', unit 1..16; throws std::out_of_range otherwise.
    ModuleState module(char house, int unit) const { return m_house.module(house, unit); }
    QByteArray receivedBytes() const { return m_received; }
    QByteArray sentBytes() const { return m_sent; }
    InterfaceProtocol::State protocolState() const { return m_protocol.state(); }

    void injectFault(Fault fault);
    // The mains came back: 0xA5 now and once a second until the computer answers.
    void powerFailure();
    // The device vanishes: the master closes and reads on the slave fail. Nothing more is sent.
    void disappear();

signals:
    void bytesReceived(const QByteArray& bytes);
    void bytesSent(const QByteArray& bytes);
    void frameSent(const x10sim::Frame& frame);
    void moduleChanged(const x10sim::ModuleChange& change);
    // The pseudo-terminal failed underneath the simulator (not emitted for disappear()).
    void lineLost(const QString& reason);

private:
    InterfaceProtocol::TimePoint now() const;
    void handleReceived(const QByteArray& bytes);
    // Hands everything the protocol produced to the line and the house, then waits for the
    // protocol's next deadline.
    void deliverOutput();

    SimulatorOptions m_options;
    PtyEndpoint m_pty;
    InterfaceProtocol m_protocol;
    HouseModel m_house;
    QElapsedTimer m_clock;
    QTimer m_deadlineTimer;
    QString m_devicePath;
    QString m_placedLink;
    QByteArray m_received;
    QByteArray m_sent;
};

}  // namespace x10sim
