#include "platform/ui/ControlSite.h"

#include <QResizeEvent>

#include <memory>
#include <utility>

#include "platform/automation/ClassRegistry.h"
#include "platform/automation/ObjectCreation.h"
#include "platform/automation/TypeInfo.h"
#include "platform/ui/EmbeddableControl.h"

namespace quenvar::ui {

using automation::ConnectionPoint;
using automation::InvokeKind;
using automation::MemberId;
using automation::RuntimeError;
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

ControlSite::ControlSite(QWidget* parent) : QWidget(parent) {}

ControlSite::~ControlSite() { clear(); }

void ControlSite::setControl(const QString& progId) {
    clear();
    automation::ObjectRef created = automation::createObject(progId.toStdString());
    if (!created) {
        throw RuntimeError(automation::error_number::CannotCreateObject,
                           "ActiveX component can't create object: " + progId.toStdString());
    }
    object_ = std::move(created);
    progId_ = progId;
    try {
        if (auto* embeddable = dynamic_cast<EmbeddableControl*>(object_.get())) {
            designedSize_ = embeddable->designedSize();
            face_ = embeddable->createFace(this);
            if (face_) {
                face_->setGeometry(rect());
                face_->show();
            }
        }
        connectEvents();
    } catch (...) {
        clear();
        throw;
    }
    updateGeometry();
}

void ControlSite::clear() {
    if (eventPoint_ && eventCookie_ != 0) {
        try {
            eventPoint_->unadvise(eventCookie_);
        } catch (const RuntimeError&) {
            // Already disconnected by the control itself: nothing left to undo.
        }
    }
    eventPoint_ = nullptr;
    eventCookie_ = 0;
    // The face goes before the object: the control only keeps a guarded pointer to it, while
    // the face may well refer to its control.
    delete face_.data();
    object_.reset();
    progId_.clear();
    designedSize_ = QSize();
}

void ControlSite::connectEvents() {
    const std::optional<automation::Guid> events = eventInterfaceOf(*object_, progId_);
    auto* container = dynamic_cast<automation::ConnectionPointContainer*>(object_.get());
    if (!events || !container) return;
    ConnectionPoint* point = container->findConnectionPoint(*events);
    if (!point) return;

    const automation::InterfaceInfo& eventInterface = point->eventInterface();
    // The sink may outlive this site (the connection point holds it until unadvise), so it
    // reaches the site only through a guarded pointer.
    QPointer<ControlSite> site(this);
    auto sink = std::make_shared<automation::EventSink>(
        eventInterface, [site, &eventInterface](MemberId id, std::span<Variant> args) {
            if (!site) return;
            const automation::MemberInfo* member = eventInterface.find(id);
            QVariantList arguments;
            for (const Variant& arg : args) arguments.append(toQtValue(arg));
            emit site->controlEvent(id, member ? QString::fromStdString(member->name) : QString(), arguments);
        });
    eventCookie_ = point->advise(sink);
    eventPoint_ = point;
}

automation::ObjectRef ControlSite::requireObject() const {
    if (!object_) {
        throw RuntimeError(automation::error_number::ObjectRequired,
                           "Object required: the control site '" + objectName().toStdString() + "' holds no control");
    }
    return object_;
}

MemberId ControlSite::idOfName(const QString& name) const {
    const automation::ObjectRef target = requireObject();
    if (const std::optional<MemberId> id = target->idOfName(name.toStdString())) return *id;
    throw RuntimeError(
        automation::error_number::MemberNotFound,
        "Member not found: the control " + progId_.toStdString() + " has no member named '" + name.toStdString() + "'");
}

// Each call holds its own reference: an event handler that runs during the call may release
// the site's control, and the object must live until its member has returned.
Variant ControlSite::dynamicCall(MemberId id, std::vector<Variant> args) {
    const automation::ObjectRef target = requireObject();
    return target->invoke(id, InvokeKind::Method, args);
}

Variant ControlSite::propertyGet(MemberId id) {
    const automation::ObjectRef target = requireObject();
    return target->invoke(id, InvokeKind::PropertyGet, {});
}

void ControlSite::propertyPut(MemberId id, Variant value) {
    const automation::ObjectRef target = requireObject();
    target->invoke(id, InvokeKind::PropertyPut, std::span<Variant>(&value, 1));
}

QSize ControlSite::sizeHint() const { return designedSize_.isValid() ? designedSize_ : QWidget::sizeHint(); }

void ControlSite::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (face_) face_->setGeometry(rect());
}

}  // namespace quenvar::ui
