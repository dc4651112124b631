#include "tests/integration/faults/ControlOnSimulatedLine.h"

#include <QDir>

#include <stdexcept>

#include "control/QuenvarIdentifiers.h"
#include "tests/support/EventLoopWaits.h"

namespace quenvar::testing {

ControlOnSimulatedLine::ControlOnSimulatedLine() {
    if (!folder_.isValid()) {
        throw std::runtime_error("no temporary folder for the interface's link");
    }
    linkPath_ = QDir(folder_.path()).filePath(QStringLiteral("interface"));
    qputenv("QUENVAR_COMM1", linkPath_.toUtf8());
    lastTraffic_.start();
    startInterface();

    // The control exactly as its class factory makes it: MSComm1 on QSerialPort, boxes on screen.
    control_ = std::make_unique<control::QuenvarControl>();
    control_->core().setTransmissionAcknowledged(
        [this](const control::x10::Transmission& sent) { acknowledged_.emplace_back(sent.header, sent.code); });
    events_ = control_->findConnectionPoint(control::identifiers::quenvarEvents);
    if (events_ == nullptr) {
        throw std::runtime_error("the control offers no connection point for __quenvar");
    }
    cookie_ = events_->advise(std::make_shared<automation::EventSink>(
        events_->eventInterface(), [this](automation::MemberId id, std::span<automation::Variant> args) {
            if (id == control::event::x10ready) {
                ++readyEvents_;
            } else if (id == control::event::x10received) {
                heard_.push_back({args[0].toText(), args[1].toText(), args[2].toText(), args[3].toInt16()});
            }
        }));
}

ControlOnSimulatedLine::~ControlOnSimulatedLine() {
    events_->unadvise(cookie_);
    control_.reset();
    sim_.reset();
    qunsetenv("QUENVAR_COMM1");
}

void ControlOnSimulatedLine::startInterface(x10sim::SimulatorOptions options) {
    sim_.reset();  // removes its link before the new one is placed
    options.linkPath = linkPath_;
    sim_ = std::make_unique<x10sim::Simulator>(options);
    sim_->start();
    const auto noteTraffic = [this] { lastTraffic_.restart(); };
    QObject::connect(sim_.get(), &x10sim::Simulator::bytesReceived, noteTraffic);
    QObject::connect(sim_.get(), &x10sim::Simulator::bytesSent, noteTraffic);
}

void ControlOnSimulatedLine::whenReceived(int count, std::function<void(x10sim::Simulator&)> action) {
    x10sim::Simulator& sim = *sim_;
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(&sim, &x10sim::Simulator::bytesReceived, [&sim, count, action, connection] {
        if (sim.receivedBytes().size() >= count) {
            QObject::disconnect(*connection);
            action(sim);
        }
    });
}

RaisedError ControlOnSimulatedLine::call(automation::MemberId member, std::vector<automation::Variant> args) {
    return errorOf([&] { control_->call(member, std::move(args)); });
}

RaisedError ControlOnSimulatedLine::unitCommand(automation::MemberId member, const std::string& house,
                                                const std::string& unit) {
    return call(member, {automation::Variant::fromText(house), automation::Variant::fromText(unit)});
}

std::int16_t ControlOnSimulatedLine::comstatus() { return control_->get(control::member::comstatus).toInt16(); }

std::int32_t ControlOnSimulatedLine::queuedEntries() { return control_->core().colstring()->count(); }

std::vector<std::string> ControlOnSimulatedLine::frameTexts(std::size_t from) const {
    std::vector<std::string> texts;
    const auto& frames = sim_->frames();
    for (std::size_t i = from; i < frames.size(); ++i) {
        texts.push_back(frames[i].text());
    }
    return texts;
}

}  // namespace quenvar::testing
