#include "control/QuenvarControl.h"

#include "control/QuenvarFace.h"
#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarSurface.h"
#include "platform/serial/QtSerialComponent.h"
#include "platform/ui/QtMessageBoxes.h"

namespace quenvar::control {

namespace {

std::shared_ptr<ui::QtMessageBoxes> makeScreenBoxes() { return std::make_shared<ui::QtMessageBoxes>(); }

}  // namespace

QuenvarControl::QuenvarControl() : QuenvarControl(std::make_unique<serial::QtSerialComponent>(), makeScreenBoxes()) {
    screenBoxes_ = static_cast<ui::QtMessageBoxes*>(boxes_.get());
}

QuenvarControl::QuenvarControl(std::unique_ptr<serial::SerialComponent> msComm1,
                               std::shared_ptr<ui::MessageBoxes> boxes)
    : boxes_(std::move(boxes)), events_(quenvarEventInterface()), core_(std::move(msComm1), *boxes_) {
    core_.setX10readyHandler([this] { raiseEvent(event::x10ready, "x10ready"); });
    core_.setX10receivedHandler([this](const HeardFunction& heard) {
        const automation::Variant args[] = {
            automation::Variant::fromText(heard.house), automation::Variant::fromText(heard.units),
            automation::Variant::fromText(heard.command), automation::Variant::fromInt16(heard.level)};
        raiseEvent(event::x10received, "x10received", args);
    });
    core_.MSComm1().setOnError([this](const automation::RuntimeError& error) { reportUnreachedError(error); });
}

QuenvarControl::~QuenvarControl() {
    // Nothing may report into a control that is going away.
    core_.MSComm1().setOnError({});
    // The face is the control's window: it goes with the control.
    delete face_.data();
}

void QuenvarControl::raiseEvent(automation::MemberId id, const std::string& name,
                                std::span<const automation::Variant> args) {
    try {
        events_.raise(id, args);
    } catch (const automation::RuntimeError& error) {
        // A host's failing handler must not leave the handshake half done: the control finishes
        // its turn and tells the user what the handler reported.
        boxes_->showMessage("The handler of the event " + name + " failed (error " + std::to_string(error.number()) +
                                "): " + error.description(),
                            message::libraryTitle);
    } catch (const std::exception& failure) {
        boxes_->showMessage("The handler of the event " + name + " failed: " + failure.what(), message::libraryTitle);
    }
}

void QuenvarControl::reportUnreachedError(const automation::RuntimeError& error) {
    boxes_->showMessage(error.description(), message::libraryTitle);
}

const automation::InterfaceInfo& QuenvarControl::interfaceInfo() const { return quenvarInterface(); }

automation::Variant QuenvarControl::invoke(automation::MemberId id, automation::InvokeKind kind,
                                           std::span<automation::Variant> args) {
    return invokeQuenvarMember(core_, id, kind, args);
}

automation::ConnectionPoint* QuenvarControl::findConnectionPoint(const automation::Guid& iid) {
    return iid == identifiers::quenvarEvents ? &events_ : nullptr;
}

const automation::TypeLibrary& QuenvarControl::typeLibrary() const { return quenvarTypeLibrary(); }

const automation::ClassInfo& QuenvarControl::classInfo() const { return quenvarTypeLibrary().classes.front(); }

QWidget* QuenvarControl::createFace(QWidget* container) {
    auto* face = new QuenvarFace(container);
    face_ = face;
    if (screenBoxes_ != nullptr) {
        screenBoxes_->setParent(container != nullptr ? container->window() : nullptr);
    }
    return face;
}

QSize QuenvarControl::designedSize() const { return designedFaceSize; }

}  // namespace quenvar::control
