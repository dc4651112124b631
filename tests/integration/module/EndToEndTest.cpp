// A host creates the control by ProgID, drives it by member id over a simulated interface on
// a pseudo-terminal, and hears x10ready through its connection point.

#include <gtest/gtest.h>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarSurface.h"
#include "platform/automation/ConnectionPoint.h"
#include "platform/ui/EmbeddableControl.h"
#include "sim/Simulator.h"
#include "tests/integration/module/ModuleFixture.h"
#include "tests/support/EventLoopWaits.h"

namespace quenvar::testing {
namespace {

using automation::Variant;
namespace member = control::member;

class EndToEnd : public CreatedControlFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        // The factory's control shows real modal boxes; the user who closes them is this timer,
        // which notes what each said.
        boxCloser.setInterval(20);
        QObject::connect(&boxCloser, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxesSeen.push_back({box->text().toStdString(), box->windowTitle().toStdString()});
                box->close();
            }
        });
        boxCloser.start();
        simulator.start();
        createControlOn(simulator.devicePath());
    }

    struct SeenBox {
        std::string prompt;
        std::string title;
        friend bool operator==(const SeenBox&, const SeenBox&) = default;
    };
    QTimer boxCloser;
    std::vector<SeenBox> boxesSeen;
    x10sim::Simulator simulator;
};

TEST_F(EndToEnd, OnForA1SwitchesTheModuleAndRaisesX10readyOnce) {
    control->call(member::openx10, {Variant::fromInt16(1)});
    control->call(member::x10on, {Variant::fromText("A"), Variant::fromText("01")});

    ASSERT_TRUE(waitUntil([&] { return readyEvents > 0; })) << "x10ready never came";
    EXPECT_TRUE(simulator.module('A', 1).on);
    // The handshake is over: nothing is left that could raise the event again.
    EXPECT_EQ(control->get(member::comstatus), Variant::fromInt16(0));
    EXPECT_EQ(readyEvents, 1);
    EXPECT_FALSE(simulator.module('A', 2).on);
    EXPECT_TRUE(boxesSeen.empty()) << boxesSeen.front().prompt;
}

TEST_F(EndToEnd, ChecksAreShownInRealMessageBoxes) {
    control->call(member::openx10, {Variant::fromInt16(1)});
    control->call(member::x10on, {Variant::fromText("Q"), Variant::fromText("01")});
    ASSERT_EQ(boxesSeen.size(), 1u);
    EXPECT_EQ(boxesSeen[0], (SeenBox{"The housecode must be between A and P", "Error"}));
    EXPECT_TRUE(simulator.receivedBytes().isEmpty());
    EXPECT_EQ(readyEvents, 0);
}

TEST_F(EndToEnd, DimAfterOnLowersTheLevel) {
    control->call(member::openx10, {Variant::fromInt16(1)});
    control->call(member::x10on, {Variant::fromText("C"), Variant::fromText("16")});
    ASSERT_TRUE(waitUntil([&] { return readyEvents == 1; }));
    const int fullLevel = simulator.module('C', 16).level;

    control->call(member::x10dim, {Variant::fromText("c"), Variant::fromText("16"), Variant::fromInt16(50)});
    ASSERT_TRUE(waitUntil([&] { return readyEvents == 2; }));
    EXPECT_TRUE(simulator.module('C', 16).on);
    EXPECT_LT(simulator.module('C', 16).level, fullLevel);
}

TEST_F(EndToEnd, TheFaceEmbedsInTheHostsWindow) {
    auto* embeddable = dynamic_cast<ui::EmbeddableControl*>(control.get());
    ASSERT_NE(embeddable, nullptr);
    QWidget window;
    QWidget* face = embeddable->createFace(&window);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->parentWidget(), &window);
    EXPECT_EQ(embeddable->designedSize(), QSize(320, 240));
    control.reset();  // the face goes with the control
    EXPECT_TRUE(window.findChildren<QWidget*>().isEmpty());
    events = nullptr;
}

}  // namespace
}  // namespace quenvar::testing
