#include "platform/ui/ControlSite.h"

#include <QResizeEvent>

#include <memory>
#include <utility>

#include "platform/automation/ClassRegistry.h"
#include "platform/automation/ObjectCreation.h"
#include "platform/automation/TypeInfo.h"
#include "platform/ui/EmbeddableControl.h"

namespace quenvar::ui {

using automation::InvokeKind;
using automation::MemberId;
using automation::RuntimeError;
using automation::Variant;

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
    events_.disconnect();
    // The face goes before the object: the control only keeps a guarded pointer to it, while
    // the face may well refer to its control.
    delete face_.data();
    object_.reset();
    progId_.clear();
    designedSize_ = QSize();
}

void ControlSite::connectEvents() {
    // The sink may outlive this site (the connection point holds it until unadvise), so it
    // reaches the site only through a guarded pointer.
    QPointer<ControlSite> site(this);
    events_.connect(*object_, progId_, [site](MemberId id, const QString& name, const QVariantList& arguments) {
        if (site) emit site->controlEvent(id, name, arguments);
    });
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
