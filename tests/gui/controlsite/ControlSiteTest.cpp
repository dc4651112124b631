// The control site with the real control module, created by its ProgID from a build-local
// registry; events come from a simulated interface on a pseudo-terminal.

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include "platform/automation/ConnectionPoint.h"
#include "platform/automation/TypeInfo.h"
#include "platform/ui/ControlSite.h"
#include "sim/Simulator.h"
#include "tests/support/RuntimeErrors.h"

using quenvar::automation::MemberId;
using quenvar::automation::ObjectRef;
using quenvar::automation::Variant;
using quenvar::testing::errorOf;
using quenvar::ui::ControlSite;
namespace error_number = quenvar::automation::error_number;

namespace {

const QString progId = QStringLiteral("Zelvo.quenvar");
constexpr MemberId comstatusId = 0x40030000;
constexpr MemberId countmacroId = 0x40030005;
constexpr MemberId openx10Id = 0x60030000;
constexpr MemberId closex10Id = 0x60030001;
constexpr MemberId x10onId = 0x60030007;
constexpr int waitMs = 5000;

// The connection point of the object's event interface, found the way any host would.
quenvar::automation::ConnectionPoint* eventPoint(const ObjectRef& object) {
    auto* described = dynamic_cast<quenvar::automation::ClassInfoProvider*>(object.get());
    auto* container = dynamic_cast<quenvar::automation::ConnectionPointContainer*>(object.get());
    if (!described || !container || !described->classInfo().defaultSource) return nullptr;
    return container->findConnectionPoint(described->classInfo().defaultSource->iid);
}

}  // namespace

class ControlSiteTest : public QObject {
    Q_OBJECT
private slots:
    void unknownProgIdLeavesSiteEmpty();
    void emptySiteRequiresObject_data();
    void emptySiteRequiresObject();
    void faceFillsSite();
    void namesGiveMemberIds_data();
    void namesGiveMemberIds();
    void callsReachControl();
    void errorsOfCallsPassToCaller_data();
    void errorsOfCallsPassToCaller();
    void eventsBecomeSignal();
    void releaseDisconnectsEvents();
    void newControlReplacesOld();
};

void ControlSiteTest::unknownProgIdLeavesSiteEmpty() {
    ControlSite site;
    const auto error = errorOf([&] { site.setControl(QStringLiteral("Nobody.nothing")); });
    QCOMPARE(error.number, error_number::CannotCreateObject);
    QVERIFY2(QString::fromStdString(error.description).contains(QStringLiteral("Nobody.nothing")),
             error.description.c_str());
    QVERIFY(site.isNull());
    QCOMPARE(site.control(), QString());
    QVERIFY(site.findChildren<QWidget*>().isEmpty());
}

void ControlSiteTest::emptySiteRequiresObject_data() {
    QTest::addColumn<int>("call");
    QTest::newRow("method") << 0;
    QTest::newRow("property get") << 1;
    QTest::newRow("property put") << 2;
    QTest::newRow("name") << 3;
}

void ControlSiteTest::emptySiteRequiresObject() {
    QFETCH(int, call);
    ControlSite site;
    site.setObjectName(QStringLiteral("lamp1"));
    const auto error = errorOf([&] {
        switch (call) {
            case 0: site.dynamicCall(closex10Id); break;
            case 1: site.propertyGet(comstatusId); break;
            case 2: site.propertyPut(comstatusId, Variant::fromInt16(1)); break;
            default: site.idOfName(QStringLiteral("closex10")); break;
        }
    });
    QCOMPARE(error.number, error_number::ObjectRequired);
    // The message says which site.
    QVERIFY2(error.description.find("lamp1") != std::string::npos, error.description.c_str());
}

void ControlSiteTest::faceFillsSite() {
    QWidget window;
    auto* site = new ControlSite(&window);
    site->setControl(progId);
    QVERIFY(!site->isNull());
    QCOMPARE(site->control(), progId);
    QCOMPARE(site->sizeHint(), QSize(320, 240));

    site->setGeometry(128, 160, 65, 57);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QList<QWidget*> faces = site->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QCOMPARE(faces.size(), 1);
    QWidget* face = faces.front();
    QVERIFY(face->isVisible());
    QCOMPARE(face->geometry(), QRect(0, 0, 65, 57));
    // The host changes the size; the face follows.
    site->resize(200, 100);
    QCOMPARE(face->geometry(), QRect(0, 0, 200, 100));
    QCOMPARE(site->pos(), QPoint(128, 160));
}

void ControlSiteTest::namesGiveMemberIds_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("id");
    QTest::newRow("openx10") << "openx10" << openx10Id;
    QTest::newRow("any case") << "X10ON" << x10onId;
    QTest::newRow("field") << "comstatus" << comstatusId;
    QTest::newRow("capital kept") << "Lightsoff" << 0x60030006;
    QTest::newRow("last method") << "alloff" << 0x6003000c;
}

void ControlSiteTest::namesGiveMemberIds() {
    QFETCH(QString, name);
    QFETCH(int, id);
    ControlSite site;
    site.setControl(progId);
    QCOMPARE(site.idOfName(name), id);
}

void ControlSiteTest::callsReachControl() {
    ControlSite site;
    site.setControl(progId);
    QCOMPARE(site.propertyGet(comstatusId), Variant::fromInt16(0));
    site.propertyPut(countmacroId, Variant::fromInt16(5));
    QCOMPARE(site.propertyGet(countmacroId), Variant::fromInt16(5));
    // The site and the object it hands out are the same control.
    QCOMPARE(site.object()->get(countmacroId), Variant::fromInt16(5));
    QCOMPARE(site.dynamicCall(closex10Id), Variant());
}

void ControlSiteTest::errorsOfCallsPassToCaller_data() {
    QTest::addColumn<int>("member");
    QTest::addColumn<QList<QByteArray>>("texts");
    QTest::addColumn<int>("number");
    QTest::newRow("private procedure") << 0x60030002 << QList<QByteArray>{} << error_number::MemberNotFound;
    QTest::newRow("port that is no number") << openx10Id << QList<QByteArray>{"x"} << error_number::TypeMismatch;
    QTest::newRow("missing argument") << x10onId << QList<QByteArray>{"A"} << error_number::BadParameterCount;
    // The serial component knows no port 99.
    QTest::newRow("error of the member itself") << openx10Id << QList<QByteArray>{"99"} << 8002;
}

void ControlSiteTest::errorsOfCallsPassToCaller() {
    QFETCH(int, member);
    QFETCH(QList<QByteArray>, texts);
    QFETCH(int, number);
    ControlSite site;
    site.setControl(progId);
    std::vector<Variant> args;
    for (const QByteArray& text : texts) args.push_back(Variant::fromText(text.toStdString()));
    const auto error = errorOf([&] { site.dynamicCall(member, args); });
    QCOMPARE(error.number, number);
    QVERIFY(!error.description.empty());
    QVERIFY(!site.isNull());
}

void ControlSiteTest::eventsBecomeSignal() {
    x10sim::Simulator simulator;
    simulator.start();
    qputenv("QUENVAR_COMM1", simulator.devicePath().toLocal8Bit());
    ControlSite site;
    site.setControl(progId);
    QSignalSpy events(&site, &ControlSite::controlEvent);
    site.dynamicCall(openx10Id, {Variant::fromInt16(1)});
    site.dynamicCall(x10onId, {Variant::fromText("A"), Variant::fromText("01")});
    QTRY_COMPARE_WITH_TIMEOUT(events.count(), 1, waitMs);
    QCOMPARE(events.front().at(0).toInt(), 1);
    QCOMPARE(events.front().at(1).toString(), QStringLiteral("x10ready"));
    QCOMPARE(events.front().at(2).toList(), QVariantList());
    QVERIFY(simulator.module('A', 1).on);
    // A remote control's B2 Dim by 11 of 22 steps: the event's arguments come with the signal.
    simulator.sendFromOtherTransmitter(
        {x10sim::Frame::forAddress('B', 2), x10sim::Frame::forFunction('B', x10sim::FunctionCode::Dim, 11)});
    QTRY_COMPARE_WITH_TIMEOUT(events.count(), 2, waitMs);
    QCOMPARE(events.last().at(0).toInt(), 2);
    QCOMPARE(events.last().at(1).toString(), QStringLiteral("x10received"));
    QCOMPARE(events.last().at(2).toList(),
             (QVariantList{QStringLiteral("B"), QStringLiteral("02"), QStringLiteral("Dim"), 50}));
    site.dynamicCall(closex10Id);
    QCOMPARE(events.count(), 2);
}

void ControlSiteTest::releaseDisconnectsEvents() {
    ObjectRef kept;
    {
        ControlSite site;
        site.setControl(progId);
        kept = site.object();
        QVERIFY(eventPoint(kept));
        QCOMPARE(eventPoint(kept)->sinkCount(), std::size_t{1});
    }
    // The site is gone; its sink no longer hangs on the object that lives on here.
    QCOMPARE(eventPoint(kept)->sinkCount(), std::size_t{0});
    QCOMPARE(kept->get(comstatusId), Variant::fromInt16(0));

    ControlSite site;
    site.setControl(progId);
    const ObjectRef other = site.object();
    site.clear();
    QVERIFY(site.isNull());
    QCOMPARE(eventPoint(other)->sinkCount(), std::size_t{0});
    QVERIFY(site.findChildren<QWidget*>().isEmpty());
}

void ControlSiteTest::newControlReplacesOld() {
    ControlSite site;
    site.setControl(progId);
    std::weak_ptr<quenvar::automation::Dispatchable> first = site.object();
    site.setControl(progId);
    QVERIFY(first.expired());
    QVERIFY(!site.isNull());
    QCOMPARE(site.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 1);
}

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    ControlSiteTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ControlSiteTest.moc"
