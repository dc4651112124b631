#include "platform/headless/HeadlessHost.h"

#include <QPointer>

#include <memory>
#include <stdexcept>
#include <utility>

#include "platform/automation/ObjectCreation.h"
#include "platform/automation/RuntimeError.h"

namespace quenvar::headless {

using automation::InvokeKind;
using automation::MemberId;
using automation::RuntimeError;
using automation::Variant;

HeadlessHost::HeadlessHost(QObject* parent) : QObject(parent) {
    qRegisterMetaType<CommandResult>();
    limit_.setSingleShot(true);
    connect(&limit_, &QTimer::timeout, this, [this] {
        if (!running_) return;
        const int state = handshakeState();
        QString what;
        switch (state) {
            case 1: what = QStringLiteral("the interface did not echo the checksum in time"); break;
            case 99: what = QStringLiteral("the interface did not send its ready byte in time"); break;
            case 0:
                what = QStringLiteral(
                    "the interface dropped the transmission (after a power failure it asks for its reply first)");
                break;
            default: what = QStringLiteral("the interface did not finish in time"); break;
        }
        finish({CommandOutcome::TimedOut, what, 0, state});
    });
    // The sink may be called after this host went (a control kept alive elsewhere): it reaches
    // the host only through a guarded pointer.
    QPointer<HeadlessHost> self(this);
    previousSink_ = automation::installMessageSink([self](const std::string& prompt, const std::string& title) {
        if (self) self->onMessage(QString::fromLatin1(prompt), QString::fromLatin1(title));
    });
}

HeadlessHost::~HeadlessHost() {
    clear();
    automation::installMessageSink(std::move(previousSink_));
}

void HeadlessHost::create(const QString& progId) {
    clear();
    automation::ObjectRef created = automation::createObject(progId.toStdString());
    if (!created) {
        throw RuntimeError(automation::error_number::CannotCreateObject,
                           "ActiveX component can't create object: " + progId.toStdString());
    }
    object_ = std::move(created);
    progId_ = progId;
    try {
        connectEvents();
    } catch (...) {
        clear();
        throw;
    }
}

void HeadlessHost::clear() {
    events_.disconnect();
    limit_.stop();
    running_ = false;
    object_.reset();
    progId_.clear();
}

void HeadlessHost::connectEvents() {
    // The connection point may keep the sink after this host went: it reaches the host only
    // through a guarded pointer.
    QPointer<HeadlessHost> self(this);
    events_.connect(*object_, progId_, [self](MemberId id, const QString& name, const QVariantList& arguments) {
        if (self) self->onEvent(name, id, arguments);
    });
}

void HeadlessHost::onEvent(const QString& name, MemberId id, const QVariantList& arguments) {
    emit controlEvent(id, name, arguments);
    if (name.compare(QLatin1String("x10ready"), Qt::CaseInsensitive) == 0) {
        if (inCall_) {
            readyDuringCall_ = true;
        } else if (running_) {
            finish({CommandOutcome::Ready, {}});
        }
        emit ready();
    } else if (name.compare(QLatin1String("x10received"), Qt::CaseInsensitive) == 0 && arguments.size() == 4) {
        emit received(arguments[0].toString(), arguments[1].toString(), arguments[2].toString(), arguments[3].toInt());
    }
}

void HeadlessHost::onMessage(const QString& prompt, const QString& title) {
    if (inCall_) {
        if (messageDuringCall_.isEmpty()) messageDuringCall_ = prompt;
    } else if (running_) {
        finish({CommandOutcome::Stopped, prompt});
    }
    emit message(prompt, title);
}

automation::ObjectRef HeadlessHost::requireObject() const {
    if (!object_) {
        throw RuntimeError(automation::error_number::ObjectRequired, "Object required: the host holds no control");
    }
    return object_;
}

std::optional<MemberId> HeadlessHost::findMember(const QString& name) const {
    return requireObject()->idOfName(name.toStdString());
}

MemberId HeadlessHost::idOfName(const QString& name) const {
    if (const std::optional<MemberId> id = findMember(name)) return *id;
    throw RuntimeError(
        automation::error_number::MemberNotFound,
        "Member not found: the control " + progId_.toStdString() + " has no member named '" + name.toStdString() + "'");
}

// Each call holds its own reference: an event handler run during the call may clear the host.
Variant HeadlessHost::call(MemberId id, std::vector<Variant> args) {
    const automation::ObjectRef target = requireObject();
    return target->invoke(id, InvokeKind::Method, args);
}

Variant HeadlessHost::get(MemberId id) {
    const automation::ObjectRef target = requireObject();
    return target->invoke(id, InvokeKind::PropertyGet, {});
}

void HeadlessHost::put(MemberId id, Variant value) {
    const automation::ObjectRef target = requireObject();
    target->invoke(id, InvokeKind::PropertyPut, std::span<Variant>(&value, 1));
}

void HeadlessHost::start(MemberId id, std::vector<Variant> args, std::chrono::milliseconds limit) {
    if (running_) throw std::logic_error("a command is still under way");
    running_ = true;
    inCall_ = true;
    readyDuringCall_ = false;
    messageDuringCall_.clear();
    CommandResult early;
    bool endedInCall = true;
    try {
        call(id, std::move(args));
        if (!messageDuringCall_.isEmpty()) {
            early = {CommandOutcome::Refused, messageDuringCall_};
        } else if (readyDuringCall_) {
            early = {CommandOutcome::Ready, {}};
        } else {
            endedInCall = false;
        }
    } catch (const RuntimeError& error) {
        early = {CommandOutcome::Failed, QString::fromLatin1(error.description()), static_cast<int>(error.number())};
    }
    inCall_ = false;
    if (endedInCall) {
        finish(early);
        return;
    }
    limit_.start(limit);
}

void HeadlessHost::finish(CommandResult result) {
    running_ = false;
    limit_.stop();
    // Always after the control's turn: a receiver may start the next command at once, and it must
    // not do so from inside the control's event or from inside start().
    QMetaObject::invokeMethod(
        this, [this, result = std::move(result)] { emit finished(result); }, Qt::QueuedConnection);
}

int HeadlessHost::handshakeState() {
    try {
        if (const std::optional<MemberId> comstatus = findMember(QStringLiteral("comstatus")))
            return get(*comstatus).toInt32();
    } catch (const RuntimeError&) {
        // A control that cannot tell: the state stays unknown.
    }
    return -1;
}

void HeadlessHost::resetHandshake() {
    limit_.stop();
    running_ = false;
    put(idOfName(QStringLiteral("comstatus")), Variant::fromInt16(0));
    // An empty reference empties the queue: the control makes a fresh one at its next use.
    const automation::ObjectRef target = requireObject();
    Variant nothing = Variant::fromObject(nullptr);
    target->invoke(idOfName(QStringLiteral("colstring")), InvokeKind::PropertyPutRef, std::span<Variant>(&nothing, 1));
}

}  // namespace quenvar::headless
