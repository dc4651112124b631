#pragma once
// A host's connection to the events of a control it created: the sink on the control's default
// source interface, with each event's arguments turned into Qt values. Hosts with and without
// windows share it.
//
// What a caller may rely on:
// - connect() finds the event interface from the object's own class information, else from the
//   class registry's record of `progId`; an object without events is left unconnected (no error).
// - The handler runs synchronously on the thread that raises the event, with the event's member
//   id, its name (empty when the interface does not list it) and its arguments in declared order:
//   texts as QString (one character per byte), 16- and 32-bit integers as int, Booleans as bool,
//   object references and empty values as an invalid QVariant.
// - The connection point keeps the sink until disconnect(): a handler that reaches an object
//   which may go first must guard itself (a QPointer, say).
// - disconnect() (also run by the destructor) is safe when already disconnected, including when
//   the control disconnected the sink itself.

#include <QString>
#include <QVariantList>

#include <functional>

#include "platform/automation/ConnectionPoint.h"
#include "platform/automation/Dispatch.h"

namespace quenvar::headless {

class EventConnection {
public:
    using Handler = std::function<void(automation::MemberId id, const QString& name, const QVariantList& arguments)>;

    EventConnection() = default;
    ~EventConnection() { disconnect(); }
    EventConnection(const EventConnection&) = delete;
    EventConnection& operator=(const EventConnection&) = delete;

    void connect(automation::Dispatchable& object, const QString& progId, Handler handler);
    void disconnect();
    bool isConnected() const { return point_ != nullptr; }

private:
    automation::ConnectionPoint* point_ = nullptr;
    automation::ConnectionPoint::Cookie cookie_ = 0;
};

}  // namespace quenvar::headless
