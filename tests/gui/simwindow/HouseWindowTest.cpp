// The house window driven the way the program drives it: a simulator on a real pseudo-terminal,
// the computer's side writing bytes to the device, the window shown on the offscreen platform.

#include "sim/HouseWindow.h"
#include "sim/LampView.h"
#include "sim/Simulator.h"

#include "ComputerSide.h"

#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QListWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <stdexcept>

using namespace simwindow_test;

namespace {

// The colour most of a lamp's pixels have, leaving out the background around the disc.
QColor discColour(x10sim::LampView* lamp) {
    const QImage image = lamp->grab().toImage();
    const QRgb background = image.pixel(0, 0);
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != background) ++counts[image.pixel(x, y)];
    QRgb commonest = background;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            commonest = it.key();
        }
    }
    return QColor(commonest);
}

bool looksYellow(const QColor& colour) {
    return colour.red() > 100 && colour.green() > 0.7 * colour.red() && colour.blue() < 0.35 * colour.green();
}

bool looksGrey(const QColor& colour) {
    return qAbs(colour.red() - colour.green()) < 12 && qAbs(colour.green() - colour.blue()) < 12 &&
           colour.value() < 120;
}

}  // namespace

class HouseWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        simulator_ = std::make_unique<x10sim::Simulator>();
        simulator_->start();
        computer_ = std::make_unique<ComputerSide>(simulator_->devicePath());
        QVERIFY2(computer_->isOpen(), qPrintable(computer_->openError()));
        window_ = std::make_unique<x10sim::HouseWindow>(*simulator_);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }

    void cleanup() {
        window_.reset();
        computer_.reset();
        simulator_.reset();
    }

    void titleAndDeviceLine() {
        QCOMPARE(window_->windowTitle(), QStringLiteral("x10sim — virtual power-line interface"));
        const QString device = simulator_->devicePath();
        QVERIFY(!device.isEmpty());
        QVERIFY2(window_->statusText().contains(QStringLiteral("QUENVAR_COMM1=") + device),
                 qPrintable(window_->statusText()));
    }

    void linkIsWhatPeopleAreToldToUse() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString link = folder.filePath(QStringLiteral("comm1"));
        x10sim::SimulatorOptions options;
        options.linkPath = link;
        x10sim::Simulator linked(options);
        linked.start();
        QVERIFY(QFileInfo(link).isSymLink());
        const x10sim::HouseWindow window(linked, link);
        QVERIFY2(window.statusText().contains(QStringLiteral("QUENVAR_COMM1=") + link),
                 qPrintable(window.statusText()));
        QVERIFY2(window.statusText().contains(linked.devicePath()), qPrintable(window.statusText()));
    }

    void everyLampStartsOffUnderItsHeaders() {
        int lamps = 0;
        for (char house = 'A'; house <= 'P'; ++house) {
            for (int unit = 1; unit <= 16; ++unit) {
                x10sim::LampView* lamp = window_->lamp(house, unit);
                QCOMPARE(lamp->objectName(), QStringLiteral("lamp%1%2").arg(QChar::fromLatin1(house)).arg(unit));
                QVERIFY(!window_->lampState(house, unit).on);
                ++lamps;
            }
        }
        QCOMPARE(lamps, 256);
        // Houses run down the rows, units across the columns.
        const QPoint a1 = window_->lamp('A', 1)->geometry().topLeft();
        QVERIFY(window_->lamp('A', 16)->geometry().left() > a1.x());
        QCOMPARE(window_->lamp('A', 16)->geometry().top(), a1.y());
        QVERIFY(window_->lamp('P', 1)->geometry().top() > a1.y());
        QCOMPARE(window_->lamp('P', 1)->geometry().left(), a1.x());
        QCOMPARE(window_->lamp('A', 1)->toolTip(), QStringLiteral("A1: off"));
    }

    void onLightsOnlyTheAddressedLamp() {
        QCOMPARE(computer_->transmit(addressHeader, addressCode('A', 1)), QString());
        QCOMPARE(computer_->transmit(functionHeader(), functionCode('A', functionOn)), QString());

        QTRY_VERIFY(window_->lampState('A', 1).on);
        QCOMPARE(window_->lampState('A', 1).level, 22);
        QCOMPARE(window_->lamp('A', 1)->property("percent").toInt(), 100);
        QCOMPARE(window_->lamp('A', 1)->toolTip(), QStringLiteral("A1: on, 100%"));
        QVERIFY(!window_->lampState('A', 2).on);
        QVERIFY(!window_->lampState('B', 1).on);

        QCOMPARE(computer_->transmit(functionHeader(), functionCode('A', functionOff)), QString());
        QTRY_VERIFY(!window_->lampState('A', 1).on);
        QCOMPARE(window_->lamp('A', 1)->toolTip(), QStringLiteral("A1: off"));
    }

    void dimAndBrightChangeTheLevel_data() {
        QTest::addColumn<int>("dimSteps");
        QTest::addColumn<int>("brightSteps");
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("percent");
        QTest::newRow("dim half") << 11 << 0 << 11 << 50;
        QTest::newRow("dim one step") << 1 << 0 << 21 << 95;
        QTest::newRow("dim all the way stays on") << 22 << 0 << 0 << 0;
        QTest::newRow("dim past the bottom") << 30 << 0 << 0 << 0;
        QTest::newRow("dim then bright") << 11 << 5 << 16 << 73;
        QTest::newRow("bright past the top") << 3 << 9 << 22 << 100;
    }

    void dimAndBrightChangeTheLevel() {
        QFETCH(int, dimSteps);
        QFETCH(int, brightSteps);
        QFETCH(int, level);
        QFETCH(int, percent);
        QCOMPARE(computer_->transmit(addressHeader, addressCode('C', 7)), QString());
        QCOMPARE(computer_->transmit(functionHeader(), functionCode('C', functionOn)), QString());
        QCOMPARE(computer_->transmit(functionHeader(dimSteps), functionCode('C', functionDim)), QString());
        if (brightSteps > 0)
            QCOMPARE(computer_->transmit(functionHeader(brightSteps), functionCode('C', functionBright)), QString());

        QTRY_COMPARE(window_->lampState('C', 7).level, level);
        QVERIFY(window_->lampState('C', 7).on);
        QCOMPARE(window_->lamp('C', 7)->property("percent").toInt(), percent);
        QCOMPARE(window_->lamp('C', 7)->toolTip(), QStringLiteral("C7: on, %1%").arg(percent));
        QCOMPARE(window_->lampState('C', 7), simulator_->module('C', 7));
    }

    void allLightsOnReachesEveryUnitOfItsHouseOnly() {
        QCOMPARE(computer_->transmit(functionHeader(), functionCode('P', functionAllLightsOn)), QString());
        QTRY_VERIFY(window_->lampState('P', 16).on);
        for (int unit = 1; unit <= 16; ++unit) {
            QVERIFY2(window_->lampState('P', unit).on, qPrintable(QStringLiteral("P%1").arg(unit)));
            QVERIFY2(!window_->lampState('O', unit).on, qPrintable(QStringLiteral("O%1").arg(unit)));
            QVERIFY2(!window_->lampState('A', unit).on, qPrintable(QStringLiteral("A%1").arg(unit)));
        }
    }

    void lampsArePaintedByState() {
        const QColor off = discColour(window_->lamp('A', 1));
        QVERIFY2(looksGrey(off), qPrintable(off.name()));

        QCOMPARE(computer_->transmit(addressHeader, addressCode('A', 1)), QString());
        QCOMPARE(computer_->transmit(functionHeader(), functionCode('A', functionOn)), QString());
        QTRY_VERIFY(window_->lampState('A', 1).on);
        const QColor full = discColour(window_->lamp('A', 1));
        QVERIFY2(looksYellow(full), qPrintable(full.name()));

        QCOMPARE(computer_->transmit(functionHeader(11), functionCode('A', functionDim)), QString());
        QTRY_COMPARE(window_->lampState('A', 1).level, 11);
        const QColor half = discColour(window_->lamp('A', 1));
        QVERIFY2(looksYellow(half), qPrintable(half.name()));
        QVERIFY2(half.value() < full.value(), qPrintable(half.name() + " vs " + full.name()));

        QCOMPARE(computer_->transmit(functionHeader(22), functionCode('A', functionDim)), QString());
        QTRY_COMPARE(window_->lampState('A', 1).level, 0);
        const QColor lowest = discColour(window_->lamp('A', 1));
        QVERIFY2(lowest.value() < half.value(), qPrintable(lowest.name() + " vs " + half.name()));
        // On at level 0 still glows: it must not look like a lamp that is off.
        QVERIFY2(!looksGrey(lowest), qPrintable(lowest.name()));

        const QColor neighbour = discColour(window_->lamp('A', 2));
        QVERIFY2(looksGrey(neighbour), qPrintable(neighbour.name()));
    }

    void frameListShowsFramesInOrder() {
        QCOMPARE(computer_->transmit(addressHeader, addressCode('A', 1)), QString());
        QCOMPARE(computer_->transmit(addressHeader, addressCode('A', 3)), QString());
        QCOMPARE(computer_->transmit(functionHeader(), functionCode('A', functionOn)), QString());
        QCOMPARE(computer_->transmit(functionHeader(11), functionCode('A', functionDim)), QString());
        QCOMPARE(computer_->transmit(functionHeader(), functionCode('P', functionAllLightsOn)), QString());

        const QStringList expected{QStringLiteral("A1 address"), QStringLiteral("A3 address"), QStringLiteral("A On"),
                                   QStringLiteral("A Dim 11 steps"), QStringLiteral("P All Lights On")};
        QTRY_COMPARE(window_->shownFrames(), expected);
        auto* list = window_->findChild<QListWidget*>(QStringLiteral("frameList"));
        QVERIFY(list);
        QCOMPARE(list->count(), expected.size());
    }

    void frameListKeepsOnlyTheNewest() {
        constexpr int extra = 7;
        constexpr int total = x10sim::HouseWindow::maxShownFrames + extra;
        for (int i = 0; i < total; ++i)
            QCOMPARE(computer_->transmit(addressHeader, addressCode('B', i % 16 + 1)), QString());

        QTRY_COMPARE(window_->shownFrames().size(), x10sim::HouseWindow::maxShownFrames);
        QStringList expected;
        for (int i = extra; i < total; ++i) expected << QStringLiteral("B%1 address").arg(i % 16 + 1);
        QCOMPARE(window_->shownFrames(), expected);
        QCOMPARE(int(simulator_->frames().size()), total);
    }

    void windowOpenedLaterShowsWhatAlreadyHappened() {
        window_.reset();
        QCOMPARE(computer_->transmit(addressHeader, addressCode('D', 4)), QString());
        QCOMPARE(computer_->transmit(functionHeader(), functionCode('D', functionOn)), QString());
        QCOMPARE(computer_->transmit(functionHeader(11), functionCode('D', functionDim)), QString());
        for (int i = 0; i < x10sim::HouseWindow::maxShownFrames; ++i)
            QCOMPARE(computer_->transmit(addressHeader, addressCode('E', 2)), QString());

        const x10sim::HouseWindow late(*simulator_);
        QCOMPARE(late.lampState('D', 4).level, 11);
        QVERIFY(late.lampState('D', 4).on);
        QVERIFY(!late.lampState('E', 2).on);
        const QStringList frames = late.shownFrames();
        QCOMPARE(frames.size(), x10sim::HouseWindow::maxShownFrames);
        QCOMPARE(frames.first(), QStringLiteral("E2 address"));
        // The Dim just before the last fifty addresses has scrolled out.
        QVERIFY(!frames.contains(QStringLiteral("D Dim 11 steps")));
    }

    // A click on a lamp is a wall switch beside its module: the lamp turns on, then off again,
    // the frames are listed as another transmitter's, and the interface polls the computer and
    // uploads them after its answer.
    void clickOnALampIsAWallSwitch() {
        QTest::mouseClick(window_->lamp('C', 7), Qt::LeftButton);
        QVERIFY(window_->lampState('C', 7).on);
        QCOMPARE(computer_->read(1), QByteArray(1, char(0x5A)));
        QTest::mouseClick(window_->lamp('C', 7), Qt::LeftButton);
        QVERIFY(!window_->lampState('C', 7).on);
        QCOMPARE(window_->shownFrames(),
                 QStringList(
                     {QStringLiteral("C7 address (other transmitter)"), QStringLiteral("C On (other transmitter)"),
                      QStringLiteral("C7 address (other transmitter)"), QStringLiteral("C Off (other transmitter)")}));
        QVERIFY(computer_->write(QByteArray(1, char(0xC3))));
        QCOMPARE(computer_->read(6), QByteArray::fromHex("050a25222523"));
    }

    void lostLineIsShownInTheStatusLine() {
        const QString reason = QStringLiteral(
                                   "x10sim: reading the line failed: Input/output error (%1); "
                                   "the simulated interface is gone, restart x10sim.")
                                   .arg(simulator_->devicePath());
        emit simulator_->lineLost(reason);
        QCOMPARE(window_->statusText(), reason);
    }

    void lampOutsideTheHouseIsRefused() {
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, window_->lampState('Q', 1));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, window_->lampState('A', 0));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, window_->lampState('A', 17));
        QCOMPARE(window_->lampState('p', 16), window_->lampState('P', 16));
    }

private:
    std::unique_ptr<x10sim::Simulator> simulator_;
    std::unique_ptr<ComputerSide> computer_;
    std::unique_ptr<x10sim::HouseWindow> window_;
};

QTEST_MAIN(HouseWindowTest)
#include "HouseWindowTest.moc"
