// The command through the port itself: the port's lock, the control created by ProgID and called
// by member id, its x10ready awaited within the time limit.

#include <QCoreApplication>
#include <QEventLoop>

#include <array>

#include "commandline/Session.h"
#include "platform/automation/RuntimeError.h"
#include "platform/headless/HeadlessHost.h"
#include "platform/headless/PortLock.h"

namespace quenvar::commandline {

namespace {

using automation::RuntimeError;
using automation::Variant;
using headless::CommandOutcome;
using headless::CommandResult;
using headless::HeadlessHost;

constexpr const char* progId = "Zelvo.quenvar";

// The control's own words for a house or a unit out of range: the extra units of a command are
// checked here, before anything is queued, and must read as the control's check of the first.
const QString houseMessage = QStringLiteral("The housecode must be between A and P");
const QString unitMessage = QStringLiteral("The Unitcode must be between 1 and 16");

// The X10 code of houses A..P and of units 1..16 (one sequence for both), for the address
// transmissions of the units after the first, which the control has no command for.
constexpr std::array<std::uint8_t, 16> x10Codes{6, 14, 2, 10, 1, 9, 5, 13, 7, 15, 3, 11, 0, 8, 4, 12};
constexpr std::uint8_t addressHeader = 0x04;

Variant byteText(std::uint8_t value) { return Variant::fromText(std::string(1, static_cast<char>(value))); }

bool isSerialError(int number) {
    namespace n = automation::error_number;
    return number == n::DeviceUnavailable || number == n::PermissionDenied || number == n::DeviceIoError ||
           number == n::PortAlreadyOpen || number == n::PortNotOpen;
}

class PortSession {
public:
    PortSession(const Invocation& invocation, const QString& device, int port, Console& console)
        : invocation_(invocation), device_(device), port_(port), console_(console) {
        QObject::connect(&host_, &HeadlessHost::received,
                         [this](const QString& house, const QString& units, const QString& command, int level) {
                             const Heard heard =
                                 Heard::fromControl(house, units, command, level, QDateTime::currentDateTime());
                             if (invocation_.verb == Verb::Monitor)
                                 console_.heardByMonitor(heard);
                             else
                                 console_.heardDuringCommand(heard);
                         });
    }

    int run() {
        try {
            host_.create(QString::fromLatin1(progId));
        } catch (const RuntimeError& error) {
            return console_.fail(exit_code::noControl,
                                 QStringLiteral("cannot create the control %1: %2. Register it with quenvar-regsvr "
                                                "(QUENVAR_REGISTRY names a registry of your own).")
                                     .arg(QLatin1String(progId), QString::fromLatin1(error.description())));
        }
        try {
            host_.call(host_.idOfName(QStringLiteral("openx10")), {Variant::fromInt16(static_cast<qint16>(port_))});
        } catch (const RuntimeError& error) {
            return console_.fail(exit_code::portUnavailable, QString::fromLatin1(error.description()));
        }
        const int code = invocation_.verb == Verb::Monitor ? monitor() : command();
        try {
            host_.call(host_.idOfName(QStringLiteral("closex10")));
        } catch (const RuntimeError&) {
            // A port already lost is closed already.
        }
        return code;
    }

private:
    int command() {
        const VerbInfo& info = infoOf(invocation_.verb);
        std::vector<Variant> args{Variant::fromText(invocation_.house.toStdString())};
        if (!invocation_.units.isEmpty()) args.push_back(Variant::fromText(invocation_.units.front().toStdString()));
        if (info.operands == Operands::UnitsAndLevel)
            args.push_back(Variant::fromInt16(static_cast<qint16>(invocation_.level)));
        try {
            if (invocation_.units.size() > 1) {
                if (const QString refusal = queueFurtherAddresses(); !refusal.isEmpty()) {
                    return console_.fail(exit_code::refused, refusal);
                }
            }
            const CommandResult result = start(host_.idOfName(QLatin1String(info.member)), std::move(args));
            return report(result);
        } catch (const RuntimeError& error) {
            return console_.fail(exit_code::refused, QString::fromLatin1(error.description()));
        }
    }

    // The units after the first go in the control's send queue as address transmissions; the
    // control's command for the first unit then queues its function behind them and sends the
    // first address. The handshake takes them one at a time, so the line carries every address
    // and then the function once, as a remote addresses several units.
    QString queueFurtherAddresses() {
        const QChar letter = invocation_.house.toUpper().front();
        if (letter < 'A' || letter > 'P') return houseMessage;
        const std::uint8_t house = static_cast<std::uint8_t>(x10Codes[letter.unicode() - 'A'] << 4);
        std::vector<std::uint8_t> bytes;
        for (qsizetype i = 1; i < invocation_.units.size(); ++i) {
            const int unit = invocation_.units[i].toInt();
            if (unit < 1 || unit > 16) return unitMessage;
            bytes.push_back(addressHeader);
            bytes.push_back(static_cast<std::uint8_t>(house + x10Codes[static_cast<std::size_t>(unit - 1)]));
        }
        const automation::ObjectRef queue = host_.get(host_.idOfName(QStringLiteral("colstring"))).toObject();
        const automation::MemberId add = *queue->idOfName("Add");
        for (std::uint8_t byte : bytes) queue->call(add, {byteText(byte)});
        return {};
    }

    CommandResult start(automation::MemberId member, std::vector<Variant> args) {
        std::optional<CommandResult> result;
        QEventLoop loop;
        const QMetaObject::Connection finished =
            QObject::connect(&host_, &HeadlessHost::finished, &loop, [&](const CommandResult& outcome) {
                result = outcome;
                loop.quit();
            });
        host_.start(member, std::move(args), invocation_.limit());
        if (!result) loop.exec();
        QObject::disconnect(finished);
        return *result;
    }

    int report(const CommandResult& result) {
        const QString what = invocation_.describe();
        switch (result.outcome) {
            case CommandOutcome::Ready: console_.done(what); return exit_code::done;
            case CommandOutcome::Refused:
                // Nothing was sent; addresses queued ahead of a refused command must not go out
                // with a later one.
                host_.resetHandshake();
                return console_.fail(exit_code::refused, result.message);
            case CommandOutcome::Failed:
                return console_.fail(
                    isSerialError(result.errorNumber) ? exit_code::portUnavailable : exit_code::refused,
                    result.message);
            case CommandOutcome::Stopped:
                return console_.fail(exit_code::notFinished, QStringLiteral("%1: %2").arg(what, result.message));
            case CommandOutcome::TimedOut:
                return console_.fail(exit_code::notFinished,
                                     QStringLiteral("%1: not finished within %2 s: %3")
                                         .arg(what)
                                         .arg(static_cast<double>(invocation_.limit().count()) / 1000.0)
                                         .arg(result.message));
        }
        return exit_code::notFinished;
    }

    int monitor() {
        QEventLoop loop;
        int code = exit_code::done;
        // With no command under way, a message of the control is the port failing underneath it.
        QObject::connect(&host_, &HeadlessHost::message, &loop, [&](const QString& prompt) {
            code = console_.fail(exit_code::portUnavailable, prompt);
            loop.quit();
        });
        onTerminationSignal(&loop, [&] { loop.quit(); });
        console_.listening(device_);
        loop.exec();
        return code;
    }

    const Invocation& invocation_;
    QString device_;
    int port_;
    Console& console_;
    HeadlessHost host_;
};

}  // namespace

int runOnPort(const Invocation& invocation, const QString& device, int port, Console& console) {
    headless::PortLock lock(device);
    headless::LockHolder me;
    me.pid = QCoreApplication::applicationPid();
    me.program = QStringLiteral("quenvar");
    me.device = device;
    // A monitor waits for the port like a command; a command that finds it busy waits its turn.
    switch (lock.lock(me, invocation.limit())) {
        case headless::LockResult::Acquired: break;
        case headless::LockResult::Failed: return console.fail(exit_code::portUnavailable, lock.errorString());
        case headless::LockResult::Held: {
            const auto holder = headless::PortLock::holder(device);
            return console.fail(
                exit_code::portUnavailable,
                QStringLiteral("%1 is in use by %2, which did not let it go within %3 s. Try again later, or give "
                               "a longer --timeout.")
                    .arg(device, holder ? holder->describe() : QStringLiteral("another program"))
                    .arg(static_cast<double>(invocation.limit().count()) / 1000.0));
        }
    }
    PortSession session(invocation, device, port, console);
    return session.run();
}

}  // namespace quenvar::commandline
