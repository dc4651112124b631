// The seven fields as hosts read and write them, and the event x10ready through the connection
// point.

#include <gtest/gtest.h>

#include "control/Quenvar.h"
#include "control/QuenvarIdentifiers.h"
#include "platform/automation/ConnectionPoint.h"
#include "tests/unit/surface/SurfaceFixture.h"

namespace quenvar::testing {
namespace {

using automation::Variant;
using automation::VarType;
namespace member = control::member;
namespace error_number = automation::error_number;

struct FieldWriteRow {
    const char* name;
    automation::MemberId id;
    Variant written;
    Variant readBack;
};

class FieldWrite : public SurfaceFixture, public ::testing::WithParamInterface<FieldWriteRow> {};

TEST_P(FieldWrite, StoresTheValueConvertedToTheFieldsType) {
    const FieldWriteRow& row = GetParam();
    control->put(row.id, row.written);
    EXPECT_EQ(control->get(row.id), row.readBack);
}

INSTANTIATE_TEST_SUITE_P(
    EveryPlainField, FieldWrite,
    ::testing::Values(FieldWriteRow{"comstatus", member::comstatus, int16(99), int16(99)},
                      FieldWriteRow{"comstatusFromText", member::comstatus, text(" 1 "), int16(1)},
                      FieldWriteRow{"strtotal", member::strtotal, text(bytes({0x6A})), text(bytes({0x6A}))},
                      FieldWriteRow{"strtotalFromNumber", member::strtotal, int16(-4), text("-4")},
                      FieldWriteRow{"sendstatusTrue", member::sendstatus, Variant::fromBool(true),
                                    Variant::fromBool(true)},
                      FieldWriteRow{"sendstatusAnyNonzero", member::sendstatus, int16(2), Variant::fromBool(true)},
                      FieldWriteRow{"sendstatusZero", member::sendstatus, int32(0), Variant::fromBool(false)},
                      FieldWriteRow{"checksum", member::checksum, text("h"), text("h")},
                      FieldWriteRow{"countmacro", member::countmacro, int16(-32768), int16(-32768)},
                      FieldWriteRow{"powerfailreplyClock", member::powerfailreply, int16(1), int16(1)},
                      FieldWriteRow{"powerfailreplyFromText", member::powerfailreply, text("1"), int16(1)},
                      FieldWriteRow{"powerfailreplyMacro", member::powerfailreply, int32(0), int16(0)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SurfaceFixture, FieldsStartAtTheirCreationValues) {
    EXPECT_EQ(control->get(member::comstatus), int16(0));
    EXPECT_EQ(control->get(member::strtotal), text(""));
    EXPECT_EQ(control->get(member::sendstatus), Variant::fromBool(false));
    EXPECT_EQ(control->get(member::checksum), text(""));
    EXPECT_EQ(control->get(member::countmacro), int16(0));
    EXPECT_EQ(control->get(member::powerfailreply), int16(0));
}

TEST_F(SurfaceFixture, WritesReachTheStateTheControlWorksWith) {
    control->put(member::comstatus, int16(99));
    control->put(member::checksum, text("j"));
    control->put(member::countmacro, int16(3));
    EXPECT_EQ(control->core().comstatus(), 99);
    EXPECT_EQ(control->core().checksum(), "j");
    EXPECT_EQ(control->core().countmacro(), 3);
}

TEST_F(SurfaceFixture, NonzeroSendstatusReadsBackAsMinusOne) {
    control->put(member::sendstatus, int16(7));
    EXPECT_TRUE(control->core().sendstatus());
    EXPECT_EQ(control->get(member::sendstatus).toInt16(), -1);
}

TEST_F(SurfaceFixture, FailedFieldWritesLeaveTheFieldAlone) {
    control->put(member::countmacro, int16(5));
    EXPECT_EQ(errorNumberOf([&] { control->put(member::countmacro, text("many")); }), error_number::TypeMismatch);
    EXPECT_EQ(errorNumberOf([&] { control->put(member::comstatus, int32(70000)); }), error_number::Overflow);
    EXPECT_EQ(control->core().countmacro(), 5);
    EXPECT_EQ(control->core().comstatus(), 0);
}

TEST_F(SurfaceFixture, PowerfailreplyRefusesValuesThatAreNoSetting) {
    control->put(member::powerfailreply, int16(1));
    for (const Variant& value : {int16(2), int16(-1), text("3"), Variant::fromBool(true)}) {
        const RaisedError raised = errorOf([&] { control->put(member::powerfailreply, value); });
        EXPECT_EQ(raised.number, 380);
        EXPECT_EQ(raised.description, "Invalid property value");
        EXPECT_EQ(control->get(member::powerfailreply), int16(1));
    }
    EXPECT_EQ(control->core().powerfailreply(), control::power_fail_reply::clockSetting);
}

std::shared_ptr<automation::Collection> collectionOf(const Variant& value) {
    return std::dynamic_pointer_cast<automation::Collection>(value.toObject());
}

TEST_F(SurfaceFixture, FreshColstringIsAnEmptyCollection) {
    const Variant value = control->get(member::colstring);
    ASSERT_EQ(value.type(), VarType::Object);
    auto queue = collectionOf(value);
    ASSERT_NE(queue, nullptr);
    EXPECT_EQ(queue->count(), 0);
    // Later reads give the same collection, not a new one each time.
    EXPECT_EQ(collectionOf(control->get(member::colstring)), queue);
}

TEST_F(SurfaceFixture, ColstringWrittenByReferenceIsTheQueueTheControlUses) {
    auto hostQueue = std::make_shared<automation::Collection>();
    hostQueue->add(text(bytes({0x06})));
    hostQueue->add(text(bytes({0x62})));
    control->putRef(member::colstring, Variant::fromObject(hostQueue));
    EXPECT_EQ(collectionOf(control->get(member::colstring)), hostQueue);

    // The control takes the queued transmission from the host's collection at the ready byte.
    port->open = true;
    control->put(member::comstatus, int16(99));
    port->receive(bytes({0x55}));
    EXPECT_EQ(port->takeWritten(), bytes({0x06, 0x62}));
    EXPECT_EQ(hostQueue->count(), 0);
}

TEST_F(SurfaceFixture, NullColstringGivesAFreshEmptyCollectionOnNextAccess) {
    auto old = collectionOf(control->get(member::colstring));
    old->add(text("x"));
    control->putRef(member::colstring, Variant::nullObject());

    auto fresh = collectionOf(control->get(member::colstring));
    ASSERT_NE(fresh, nullptr);
    EXPECT_NE(fresh, old);
    EXPECT_EQ(fresh->count(), 0);

    // The control's own code makes a fresh one too, and no longer sees the old entries.
    control->putRef(member::colstring, Variant::nullObject());
    port->open = true;
    call(member::x10on, {text("A"), text("01")});
    EXPECT_EQ(queued(), bytes({0x06, 0x62}));
    EXPECT_EQ(old->count(), 1);
}

TEST_F(SurfaceFixture, ColstringRefusesAnObjectThatIsNoCollection) {
    auto before = control->core().colstring();
    auto sink = std::make_shared<automation::EventSink>(control::quenvarEventInterface(), nullptr);
    EXPECT_EQ(errorNumberOf([&] { control->putRef(member::colstring, Variant::fromObject(sink)); }),
              error_number::TypeMismatch);
    EXPECT_EQ(control->core().colstring(), before);
}

// --- the event x10ready ---

class ReadyEvents : public SurfaceFixture {
protected:
    automation::ConnectionPoint& events() {
        auto* point = control->findConnectionPoint(control::identifiers::quenvarEvents);
        EXPECT_NE(point, nullptr);
        return *point;
    }

    automation::ConnectionPoint::Cookie advise(std::function<void()> handler) {
        return events().advise(std::make_shared<automation::EventSink>(
            control::quenvarEventInterface(),
            [handler = std::move(handler)](automation::MemberId id, std::span<Variant>) {
                EXPECT_EQ(id, control::event::x10ready);
                handler();
            }));
    }

    // An "On" for A1 and the interface's answers to both transmissions.
    void runOneCommand() {
        port->open = true;
        call(member::x10on, {text("A"), text("01")});
        port->receive(bytes({0x6A, 0x55, 0x68, 0x55}));
    }
};

TEST_F(ReadyEvents, OnlyTheEventInterfaceHasAConnectionPoint) {
    EXPECT_EQ(events().eventInterface().name, "__quenvar");
    EXPECT_EQ(control->findConnectionPoint(control::identifiers::quenvarInterface), nullptr);
    EXPECT_EQ(control->findConnectionPoint(control::identifiers::quenvarClass), nullptr);
}

TEST_F(ReadyEvents, EverySinkHearsItOnceInOrderBeforeTheControlGoesIdle) {
    std::vector<std::string> heard;
    std::vector<std::int16_t> stateSeen;
    advise([&] {
        heard.push_back("first");
        stateSeen.push_back(control->core().comstatus());
    });
    advise([&] {
        heard.push_back("second");
        stateSeen.push_back(control->core().comstatus());
    });
    runOneCommand();
    EXPECT_EQ(heard, (std::vector<std::string>{"first", "second"}));
    // Both ran while the receive handler was still in its turn.
    EXPECT_EQ(stateSeen,
              (std::vector<std::int16_t>{control::handshake::awaitingEcho, control::handshake::awaitingEcho}));
    EXPECT_EQ(control->core().comstatus(), control::handshake::idle);
    EXPECT_EQ(port->takeWritten(), bytes({0x04, 0x66, 0x00, 0x06, 0x62, 0x00}));
}

TEST_F(ReadyEvents, WithoutSinksTheHandshakeStillCompletes) {
    runOneCommand();
    EXPECT_EQ(control->core().comstatus(), control::handshake::idle);
    EXPECT_TRUE(control->core().sendstatus());
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(ReadyEvents, AnUnadvisedSinkHearsNothing) {
    int calls = 0;
    const auto cookie = advise([&] { ++calls; });
    events().unadvise(cookie);
    runOneCommand();
    EXPECT_EQ(calls, 0);
}

TEST_F(ReadyEvents, AFailingSinkIsReportedAndTheHandshakeCompletes) {
    int laterSinkCalls = 0;
    advise([] { throw automation::RuntimeError(error_number::Overflow, "Overflow"); });
    advise([&] { ++laterSinkCalls; });
    runOneCommand();
    EXPECT_EQ(laterSinkCalls, 1);
    EXPECT_EQ(control->core().comstatus(), control::handshake::idle);
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0].title, control::message::libraryTitle);
    EXPECT_NE(boxes->shown[0].prompt.find("x10ready"), std::string::npos);
    EXPECT_NE(boxes->shown[0].prompt.find("Overflow"), std::string::npos);
}

TEST_F(SurfaceFixture, ErrorsNoCallerReceivesAreShownToTheUser) {
    port->reportUnreached(automation::RuntimeError(error_number::DeviceUnavailable,
                                                   "The serial port /dev/ttyUSB0 went away; reconnect it"));
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0],
              (ShownMessage{"The serial port /dev/ttyUSB0 went away; reconnect it", control::message::libraryTitle}));
}

}  // namespace
}  // namespace quenvar::testing
