#pragma once
// The host side of a visual control: a widget that creates a control by its ProgID, embeds the
// control's face, forwards late-bound calls to it and turns its events into a Qt signal.
//
// What a caller may rely on:
// - setControl() creates the object through the class registry (createObject). A failure
//   raises automation::RuntimeError with the runtime's own number and description (429 with
//   the reason when the ProgID is not registered or its module cannot be loaded); the site is
//   then empty. A site holds at most one control: setting a new one releases the old one first.
// - The control's face (when the object offers one, ui::EmbeddableControl) is a child of the
//   site and always fills it; the host decides the site's position and size (setGeometry),
//   sizeHint() is the control's designed size.
// - dynamicCall(), propertyGet() and propertyPut() go straight to the object's invoke. A
//   run-time error of the call passes to the caller unchanged. Calling an empty site raises
//   ObjectRequired (424).
// - When the object raises events (its class names a default source interface and the object
//   has a connection point for it), the site connects a sink and emits controlEvent() for each
//   event, synchronously, on the thread that raised it, with the event's arguments converted to
//   their declared types and then to Qt values: texts as QString (one character per byte),
//   16- and 32-bit integers as int, Booleans as bool, object references as an invalid QVariant.
// - The site keeps the object alive until clear(), setControl() or its own destruction; it
//   disconnects its sink first. Others may keep their own reference (object()); events then no
//   longer reach the released site.
//
// The site knows nothing of any particular control.

#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QWidget>

#include <vector>

#include "platform/automation/ConnectionPoint.h"
#include "platform/automation/Dispatch.h"
#include "platform/automation/Variant.h"
#include "platform/headless/EventConnection.h"

namespace quenvar::ui {

class ControlSite : public QWidget {
    Q_OBJECT
public:
    explicit ControlSite(QWidget* parent = nullptr);
    ~ControlSite() override;

    // Creates the control registered under `progId` and embeds it (see above).
    void setControl(const QString& progId);
    // The ProgID of the control held, or the empty text.
    QString control() const { return progId_; }
    bool isNull() const { return !object_; }
    // Releases the control (face, event connection, object).
    void clear();

    // The object itself, for hosts that need more than calls (null when empty).
    automation::ObjectRef object() const { return object_; }

    // The member id of a name of the control's default interface, compared without regard to
    // case. An unknown name raises MemberNotFound naming the member and the control.
    automation::MemberId idOfName(const QString& name) const;

    automation::Variant dynamicCall(automation::MemberId id, std::vector<automation::Variant> args = {});
    automation::Variant propertyGet(automation::MemberId id);
    void propertyPut(automation::MemberId id, automation::Variant value);

    QSize sizeHint() const override;

signals:
    // The control raised the event `name` (member id `memberId` of its event interface) with
    // these arguments, in the order the event declares them.
    void controlEvent(int memberId, const QString& name, const QVariantList& arguments);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    automation::ObjectRef requireObject() const;
    void connectEvents();

    QString progId_;
    automation::ObjectRef object_;
    QPointer<QWidget> face_;
    QSize designedSize_;
    headless::EventConnection events_;
};

}  // namespace quenvar::ui
