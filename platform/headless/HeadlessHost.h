#pragma once
// The host side of a control in a process without windows (a daemon, a command-line tool): it
// creates the control by its ProgID through the class registry, calls it by member id, turns its
// events into Qt signals and its message boxes into text, and keeps the time limit of each
// command, which the control itself does not have.
//
// What a caller may rely on:
// - Qt Core only: a QCoreApplication is enough. While a host lives it is the process's message
//   sink: every box the control would show is emitted as message(prompt, title) at once, nothing
//   waits, nothing is shown. The sink it replaced comes back when it goes.
// - create() raises automation::RuntimeError (429 with the reason) when the class cannot be made;
//   the host is then empty. idOfName() resolves names of the default interface without regard to
//   case and raises MemberNotFound (naming the member) for an unknown one; findMember() answers
//   nullopt instead. call(), get() and put() go straight to the object; their run-time errors
//   pass to the caller unchanged; an empty host raises ObjectRequired (424).
// - Events arrive on the control's thread, synchronously, while the control raises them: the
//   event x10ready as ready(), x10received as received(house, units, command, level), and every
//   event (these two included) as controlEvent(). Event ids are taken from the control's event
//   interface by name.
// - A command (start()) is a call that ends when the control raises x10ready. finished() is
//   emitted exactly once per started command, never from inside start(): Ready on x10ready;
//   Refused when the control gave a message during the call itself (a check failed: nothing was
//   sent); Failed when the call raised a run-time error; Stopped when the control gave a message
//   while the command was under way (its message, e.g. the interface not responding, a device
//   gone); TimedOut when the limit passed first (the text says what was last awaited). One
//   command at a time: start() while one runs raises std::logic_error.
// - resetHandshake() puts the control back to idle through its own fields (comstatus 0, an empty
//   send queue) so that the next command starts afresh after an interface fell silent.

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>

#include <chrono>
#include <optional>
#include <vector>

#include "platform/automation/Dispatch.h"
#include "platform/automation/MessageSink.h"
#include "platform/automation/Variant.h"
#include "platform/headless/EventConnection.h"

namespace quenvar::headless {

enum class CommandOutcome { Ready, Refused, Failed, Stopped, TimedOut };

struct CommandResult {
    CommandOutcome outcome = CommandOutcome::Ready;
    // The control's message, the run-time error's description, or what the time limit ended.
    QString message;
    // The run-time error's number (Failed only).
    int errorNumber = 0;
    // TimedOut only: the control's handshake state when the time was up (1 awaiting the echo, 99
    // the ready byte, 0 idle: the interface dropped the transmission, as after a power failure);
    // -1 when the control has no such field.
    int handshakeState = -1;
};

class HeadlessHost : public QObject {
    Q_OBJECT
public:
    explicit HeadlessHost(QObject* parent = nullptr);
    ~HeadlessHost() override;
    HeadlessHost(const HeadlessHost&) = delete;
    HeadlessHost& operator=(const HeadlessHost&) = delete;

    void create(const QString& progId);
    void clear();
    bool isNull() const { return !object_; }
    automation::ObjectRef object() const { return object_; }

    automation::MemberId idOfName(const QString& name) const;
    std::optional<automation::MemberId> findMember(const QString& name) const;

    automation::Variant call(automation::MemberId id, std::vector<automation::Variant> args = {});
    automation::Variant get(automation::MemberId id);
    void put(automation::MemberId id, automation::Variant value);

    void start(automation::MemberId id, std::vector<automation::Variant> args, std::chrono::milliseconds limit);
    bool commandRunning() const { return running_; }

    void resetHandshake();

signals:
    void ready();
    void received(const QString& house, const QString& units, const QString& command, int level);
    void controlEvent(int memberId, const QString& name, const QVariantList& arguments);
    void message(const QString& prompt, const QString& title);
    void finished(const quenvar::headless::CommandResult& result);

private:
    automation::ObjectRef requireObject() const;
    void connectEvents();
    void onEvent(const QString& name, automation::MemberId id, const QVariantList& arguments);
    void onMessage(const QString& prompt, const QString& title);
    void finish(CommandResult result);
    int handshakeState();

    QString progId_;
    automation::ObjectRef object_;
    EventConnection events_;
    automation::MessageSink previousSink_;

    // The command under way.
    bool running_ = false;
    bool inCall_ = false;
    bool readyDuringCall_ = false;
    QString messageDuringCall_;
    QTimer limit_;
};

}  // namespace quenvar::headless

Q_DECLARE_METATYPE(quenvar::headless::CommandResult)
