// A host lets go of the control from inside the control's own callbacks: its event x10ready, and
// the message boxes it shows (their nested event loops run the host's code). The host unloads as
// hosts do: the window holding the control's face goes, and with it the only reference to the
// control. Created by ProgID, the sinks advised on its connection point, on a simulated interface
// on a pseudo-terminal.

#include <gtest/gtest.h>
#include <QWidget>

#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarSurface.h"
#include "platform/automation/ConnectionPoint.h"
#include "platform/ui/EmbeddableControl.h"
#include "sim/Simulator.h"
#include "tests/integration/module/ModuleFixture.h"
#include "tests/support/EventLoopWaits.h"
#include "tests/support/MessageBoxReader.h"
#include "tests/support/OpenDescriptors.h"

namespace quenvar::testing {
namespace {

using automation::Variant;
namespace member = control::member;

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray result;
    for (int value : values) result.append(static_cast<char>(value));
    return result;
}

// What the host holds while it uses the control, and what its two sinks heard.
struct Host {
    automation::ObjectRef control;
    std::unique_ptr<QWidget> window;
    automation::ConnectionPoint* events = nullptr;
    std::vector<automation::ConnectionPoint::Cookie> cookies;
    std::vector<int> sinkCalls{0, 0};

    void call(automation::MemberId id, std::vector<Variant> args = {}) { control->call(id, args); }
    void unload() {
        window.reset();
        events = nullptr;
        control.reset();
    }
};

using HostAction = std::function<void(Host&)>;

struct LetGo {
    const char* name;
    x10sim::Fault fault;  // armed before "On A1" is sent
    // What each advised sink does on x10ready, in advise order (nothing when empty).
    HostAction firstSink;
    HostAction secondSink;
    // What the host does while the control's first message box is open.
    HostAction whileBoxOpen;
    QByteArray wire;                   // everything the control sent, in order
    std::vector<std::string> prompts;  // the boxes the control showed
    std::vector<int> sinkCalls;
};

void PrintTo(const LetGo& letGo, std::ostream* out) { *out << letGo.name; }

const QByteArray onA1 = bytes({0x04, 0x66, 0x00, 0x06, 0x62, 0x00});

void unload(Host& host) { host.unload(); }

// clang-format off
const LetGo letGoCases[] = {
    {"UnloadsInsideX10ready", x10sim::Fault::None, unload, {}, {}, onA1, {}, {1, 0}},
    {"SecondSinkUnloadsAfterTheFirstRan", x10sim::Fault::None, {}, unload, {}, onA1, {}, {1, 1}},
    {"UnadvisesBothSinksThenUnloads", x10sim::Fault::None,
     [](Host& host) {
         for (auto cookie : host.cookies) host.events->unadvise(cookie);
         host.unload();
     },
     {}, {}, onA1, {}, {1, 0}},
    {"ClosesThePortInsideX10readyThenUnloads", x10sim::Fault::None,
     [](Host& host) {
         host.call(member::closex10);
         host.unload();
     },
     {}, {}, onA1, {}, {1, 0}},
    {"OpensThePortAgainInsideX10readyThenUnloads", x10sim::Fault::None,
     [](Host& host) {
         host.call(member::openx10, {Variant::fromInt16(1)});
         host.unload();
     },
     {}, {}, onA1, {}, {1, 0}},
    // The new command's address went out before the release; its function was still queued.
    {"SendsANewCommandInsideX10readyThenUnloads", x10sim::Fault::None,
     [](Host& host) {
         host.call(member::x10off, {Variant::fromText("A"), Variant::fromText("01")});
         host.unload();
     },
     {}, {}, onA1 + bytes({0x04, 0x66}), {}, {1, 0}},
    // No one is left to show the failure to.
    {"SinkUnloadsThenThrows", x10sim::Fault::None,
     [](Host& host) {
         host.unload();
         throw std::runtime_error("the window is gone");
     },
     {}, {}, onA1, {}, {1, 0}},
    {"SinkThrowsAndTheHostUnloadsWhileTheFailureIsShown", x10sim::Fault::None,
     [](Host&) { throw automation::RuntimeError(5, "the window is busy"); }, {}, unload, onA1,
     {"The handler of the event x10ready failed (error 5): the window is busy"}, {1, 1}},
    // The interface answers 0xAA after the address frame: the function stays queued.
    {"UnloadsWhileInterfaceIsNotRespondingIsShown", x10sim::Fault::NotReady, {}, {}, unload,
     bytes({0x04, 0x66, 0x00}), {"Interface is not responding"}, {0, 0}},
};
// clang-format on

class HostLetsGo : public ModuleFixture, public ::testing::WithParamInterface<LetGo> {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        simulator.start();
        qputenv("QUENVAR_COMM1", simulator.devicePath().toUtf8());
        registerModule();
        host.control = automation::createObject(progId);
        host.window = std::make_unique<QWidget>();
        auto* embeddable = dynamic_cast<ui::EmbeddableControl*>(host.control.get());
        ASSERT_NE(embeddable, nullptr);
        embeddable->createFace(host.window.get());
        auto* container = dynamic_cast<automation::ConnectionPointContainer*>(host.control.get());
        ASSERT_NE(container, nullptr);
        host.events = container->findConnectionPoint(control::identifiers::quenvarEvents);
        ASSERT_NE(host.events, nullptr);
    }
    void TearDown() override {
        qunsetenv("QUENVAR_COMM1");
        ModuleFixture::TearDown();
    }

    // Advises a sink that counts its calls as sink `index` and then runs `action`.
    void advise(std::size_t index, HostAction action) {
        host.cookies.push_back(host.events->advise(std::make_shared<automation::EventSink>(
            host.events->eventInterface(), [this, index, action](automation::MemberId id, std::span<Variant>) {
                if (id != control::event::x10ready) return;
                ++host.sinkCalls[index];
                if (action) action(host);
            })));
    }

    MessageBoxReader boxes;
    x10sim::Simulator simulator;
    Host host;
};

TEST_P(HostLetsGo, TheControlGoesAtOnceAndNothingMoreIsSent) {
    const LetGo& letGo = GetParam();
    advise(0, letGo.firstSink);
    advise(1, letGo.secondSink);
    if (letGo.whileBoxOpen) boxes.whileNextBoxIsOpen([this, action = letGo.whileBoxOpen] { action(host); });
    if (letGo.fault != x10sim::Fault::None) simulator.injectFault(letGo.fault);
    const int handlesBefore = openDescriptorsOf(simulator.devicePath());
    host.call(member::openx10, {Variant::fromInt16(1)});
    const std::weak_ptr<automation::Dispatchable> control = host.control;

    host.call(member::x10on, {Variant::fromText("A"), Variant::fromText("01")});

    ASSERT_TRUE(waitUntil([&] { return control.expired(); })) << "the host never let go";
    // The serial component went with the control and closed the port.
    EXPECT_EQ(openDescriptorsOf(simulator.devicePath()), handlesBefore);
    ASSERT_TRUE(waitUntil([&] { return simulator.receivedBytes().size() >= letGo.wire.size(); }));
    EXPECT_EQ(simulator.receivedBytes().toHex(' '), letGo.wire.toHex(' '));
    std::vector<std::string> prompts;
    for (const auto& box : boxes.seen()) prompts.push_back(box.prompt);
    EXPECT_EQ(prompts, letGo.prompts);
    EXPECT_EQ(host.sinkCalls, letGo.sinkCalls);
}

// A remote's two commands come in one upload; the host lets go while the first is told.
TEST_F(HostLetsGo, InsideX10receivedTheRestOfTheUploadIsNotTold) {
    int told = 0;
    host.cookies.push_back(host.events->advise(std::make_shared<automation::EventSink>(
        host.events->eventInterface(), [this, &told](automation::MemberId id, std::span<Variant>) {
            if (id != control::event::x10received) return;
            ++told;
            host.unload();
        })));
    const int handlesBefore = openDescriptorsOf(simulator.devicePath());
    host.call(member::openx10, {Variant::fromInt16(1)});
    const std::weak_ptr<automation::Dispatchable> control = host.control;
    using x10sim::Frame;
    using x10sim::FunctionCode;
    simulator.sendFromOtherTransmitter({Frame::forAddress('A', 1), Frame::forFunction('A', FunctionCode::On),
                                        Frame::forAddress('A', 3), Frame::forFunction('A', FunctionCode::Off)});

    ASSERT_TRUE(waitUntil([&] { return control.expired(); })) << "the host never let go";
    EXPECT_EQ(told, 1);
    EXPECT_EQ(openDescriptorsOf(simulator.devicePath()), handlesBefore);
    EXPECT_EQ(simulator.receivedBytes().toHex(' '), QByteArray("c3"));
    EXPECT_TRUE(boxes.seen().empty());
}

INSTANTIATE_TEST_SUITE_P(FromEveryCallback, HostLetsGo, ::testing::ValuesIn(letGoCases),
                         [](const ::testing::TestParamInfo<LetGo>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quenvar::testing
