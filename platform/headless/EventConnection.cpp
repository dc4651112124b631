#include "platform/headless/EventConnection.h"

#include <QVariant>

#include <memory>
#include <optional>
#include <utility>

#include "platform/automation/ClassRegistry.h"
#include "platform/automation/RuntimeError.h"
#include "platform/automation/TypeInfo.h"

namespace quenvar::headless {

using automation::MemberId;
using automation::Variant;

namespace {

// The event interface the object's class raises its events through: the class describes
// itself when it can, otherwise its registration record names it.
std::optional<automation::Guid> eventInterfaceOf(const automation::Dispatchable& object, const QString& progId) {
    if (const auto* described = dynamic_cast<const automation::ClassInfoProvider*>(&object)) {
        const automation::InterfaceInfo* source = described->classInfo().defaultSource;
        if (source) return source->iid;
        return std::nullopt;
    }
    const auto record = automation::ClassRegistry::standard().findByProgId(progId.toStdString());
    if (record && record->hasEvents) return record->eventInterfaceIid;
    return std::nullopt;
}

QVariant toQtValue(const Variant& value) {
    switch (value.type()) {
        case automation::VarType::Int16:
        case automation::VarType::Int32: return value.toInt32();
        case automation::VarType::Bool: return value.toBool();
        case automation::VarType::Text: return QString::fromLatin1(value.toText());
        case automation::VarType::Empty:
        case automation::VarType::Object: break;
    }
    return {};
}

}  // namespace

void EventConnection::connect(automation::Dispatchable& object, const QString& progId, Handler handler) {
    disconnect();
    const std::optional<automation::Guid> events = eventInterfaceOf(object, progId);
    auto* container = dynamic_cast<automation::ConnectionPointContainer*>(&object);
    if (!events || !container) return;
    automation::ConnectionPoint* point = container->findConnectionPoint(*events);
    if (!point) return;

    const automation::InterfaceInfo& eventInterface = point->eventInterface();
    auto sink = std::make_shared<automation::EventSink>(
        eventInterface, [handler = std::move(handler), &eventInterface](MemberId id, std::span<Variant> args) {
            const automation::MemberInfo* member = eventInterface.find(id);
            QVariantList arguments;
            for (const Variant& arg : args) arguments.append(toQtValue(arg));
            handler(id, member ? QString::fromStdString(member->name) : QString(), arguments);
        });
    cookie_ = point->advise(sink);
    point_ = point;
}

void EventConnection::disconnect() {
    if (point_ && cookie_ != 0) {
        try {
            point_->unadvise(cookie_);
        } catch (const automation::RuntimeError&) {
            // Already disconnected by the control itself: nothing left to undo.
        }
    }
    point_ = nullptr;
    cookie_ = 0;
}

}  // namespace quenvar::headless
