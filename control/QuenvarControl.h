#pragma once
// The quenvar control as hosts meet it: a late-bound object with the surface `_quenvar`, the
// event interface `__quenvar` behind a connection point, its type information, and a face to
// embed in a window. The behaviour itself is the Quenvar core it owns.
//
// What a host may rely on:
// - Every call runs on the host's thread; members run only from invoke, the receive handler
//   only from the serial component's notifications.
// - x10ready and x10received are raised through the connection point of `__quenvar`: every
//   advised sink is called in turn, and the receive handler goes on only after all have
//   returned. With no sink connected nothing happens. A sink that fails does not stop the
//   handshake; the failure is shown to the user in a message box.
// - Errors that reach no caller (a device that went away, a failure inside the receive
//   handler) are shown to the user in a message box titled "quenvar".
// - The control saves and restores nothing; the host keeps each instance's extent.
// - Destroying the control runs nothing of the protocol; a port still open is closed by the
//   serial component as it goes.
// - A host may let go of the control from any callback the control makes (a sink of x10ready,
//   the host's code run while one of the control's message boxes is open): the control goes at
//   once, the serial component goes with it (closing the port, notifying no more), the second
//   halves still queued are dropped, and the rest of the control's turn touches nothing of it.

#include <QPointer>
#include <QSize>
#include <QWidget>
#include <memory>

#include "control/Quenvar.h"
#include "platform/automation/ConnectionPoint.h"
#include "platform/automation/Dispatch.h"
#include "platform/automation/TypeInfo.h"
#include "platform/serial/SerialComponent.h"
#include "platform/ui/EmbeddableControl.h"
#include "platform/ui/MessageBoxes.h"

namespace quenvar::ui {
class QtMessageBoxes;
}

namespace quenvar::control {

class QuenvarControl : public automation::Dispatchable,
                       public automation::ConnectionPointContainer,
                       public automation::ClassInfoProvider,
                       public ui::EmbeddableControl {
public:
    // The control as its class factory makes it: MSComm1 on QSerialPort, message boxes on
    // screen, or, in a host without windows, handed to the host's message sink (QtMessageBoxes).
    QuenvarControl();
    // The control with the given serial component and message boxes (kept alive by the
    // control as long as it lives).
    QuenvarControl(std::unique_ptr<serial::SerialComponent> msComm1, std::shared_ptr<ui::MessageBoxes> boxes);
    ~QuenvarControl() override;

    QuenvarControl(const QuenvarControl&) = delete;
    QuenvarControl& operator=(const QuenvarControl&) = delete;

    // The behaviour behind the surface (fields, link layer, commands).
    Quenvar& core() { return core_; }

    // automation::Dispatchable
    const automation::InterfaceInfo& interfaceInfo() const override;
    automation::Variant invoke(automation::MemberId id, automation::InvokeKind kind,
                               std::span<automation::Variant> args) override;

    // automation::ConnectionPointContainer: the connection point of `__quenvar`, nullptr for
    // any other iid.
    automation::ConnectionPoint* findConnectionPoint(const automation::Guid& iid) override;

    // automation::ClassInfoProvider
    const automation::TypeLibrary& typeLibrary() const override;
    const automation::ClassInfo& classInfo() const override;

    // ui::EmbeddableControl: the face shows Image1 (68 x 58 pixels at the top-left corner) on
    // the control's background. Calling it again gives a second face; only the latest is kept.
    QWidget* createFace(QWidget* container) override;
    QSize designedSize() const override;

    // 4800 x 3600 twips at 15 twips a pixel.
    static constexpr QSize designedFaceSize{320, 240};

private:
    // Raises the event through the connection point; a failing handler is shown in a box.
    void raiseEvent(automation::MemberId id, const std::string& name, std::span<const automation::Variant> args = {});
    void reportUnreachedError(const automation::RuntimeError& error);

    std::shared_ptr<ui::MessageBoxes> boxes_;
    // Set when the boxes are the on-screen ones, so they can be centred over the face's window.
    ui::QtMessageBoxes* screenBoxes_ = nullptr;
    automation::ConnectionPoint events_;
    Quenvar core_;
    QPointer<QWidget> face_;
};

}  // namespace quenvar::control
