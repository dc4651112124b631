#pragma once
// The control as the program meets it (real serial component on a pseudo-terminal, real modal
// message boxes, calls by member id, x10ready through its connection point) wired to a
// simulated power-line interface that can misbehave. CommPort 1 is a symbolic link in a folder
// of the test's own, so an interface that vanished can come back at the same place.

#include <QElapsedTimer>
#include <QMetaObject>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "control/QuenvarControl.h"
#include "control/QuenvarSurface.h"
#include "control/UploadDecoder.h"
#include "platform/automation/ConnectionPoint.h"
#include "platform/automation/Variant.h"
#include "sim/Simulator.h"
#include "tests/support/MessageBoxReader.h"
#include "tests/support/RuntimeErrors.h"

namespace quenvar::testing {

class ControlOnSimulatedLine {
public:
    using Acknowledged = std::pair<std::uint8_t, std::uint8_t>;

    ControlOnSimulatedLine();
    ~ControlOnSimulatedLine();
    ControlOnSimulatedLine(const ControlOnSimulatedLine&) = delete;
    ControlOnSimulatedLine& operator=(const ControlOnSimulatedLine&) = delete;

    // Starts a new interface at CommPort 1's link; an interface already there goes first.
    void startInterface(x10sim::SimulatorOptions options = {});
    x10sim::Simulator& interface() { return *sim_; }
    const QString& linkPath() const { return linkPath_; }

    // Host calls by member id; the run-time error a call raised, number 0 when it returned.
    RaisedError call(automation::MemberId member, std::vector<automation::Variant> args = {});
    RaisedError openPort() { return call(control::member::openx10, {automation::Variant::fromInt16(1)}); }
    RaisedError unitCommand(automation::MemberId member, const std::string& house, const std::string& unit);
    std::int16_t comstatus();
    std::int32_t queuedEntries();

    control::QuenvarControl& control() { return *control_; }
    MessageBoxReader& boxes() { return boxes_; }
    int readyEvents() const { return readyEvents_; }
    // Every x10received, with its arguments as the host got them.
    const std::vector<control::HeardFunction>& heard() const { return heard_; }
    // Runs `action` once, at the moment the interface has received `count` bytes in all, before
    // it acts on them.
    void whenReceived(int count, std::function<void(x10sim::Simulator&)> action);
    // The control's own account: every transmission it acknowledged, in order.
    const std::vector<Acknowledged>& acknowledged() const { return acknowledged_; }

    // The power-line record as texts ("A1 address", "A On"), from frame `from` on.
    std::vector<std::string> frameTexts(std::size_t from = 0) const;
    // Milliseconds since a byte last crossed the line in either direction, or since
    // startQuietClock() when that came later.
    qint64 quietFor() const { return lastTraffic_.elapsed(); }
    void startQuietClock() { lastTraffic_.restart(); }

private:
    QTemporaryDir folder_;
    QString linkPath_;
    MessageBoxReader boxes_;
    std::unique_ptr<x10sim::Simulator> sim_;
    std::unique_ptr<control::QuenvarControl> control_;
    automation::ConnectionPoint* events_ = nullptr;
    automation::ConnectionPoint::Cookie cookie_ = 0;
    int readyEvents_ = 0;
    std::vector<control::HeardFunction> heard_;
    std::vector<Acknowledged> acknowledged_;
    QElapsedTimer lastTraffic_;
};

}  // namespace quenvar::testing
