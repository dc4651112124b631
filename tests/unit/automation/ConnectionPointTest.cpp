#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/automation/ConnectionPoint.h"
#include "tests/support/RuntimeErrors.h"

namespace qa = quenvar::automation;
namespace en = quenvar::automation::error_number;
using qa::ConnectionPoint;
using qa::EventSink;
using qa::InvokeKind;
using qa::MemberId;
using qa::Variant;
using qa::VarType;
using quenvar::testing::errorNumberOf;
using quenvar::testing::errorOf;

namespace {

constexpr MemberId ready = 1;
constexpr MemberId levelChanged = 2;

const qa::InterfaceInfo& lampEvents() {
    static const qa::InterfaceInfo info{
        qa::Guid::parse("{AAAAAAAA-BBBB-CCCC-DDDD-EEEEEEEEEEEE}"),
        "__Lamp",
        qa::InterfaceFlags{.dispatchOnly = true, .hidden = true, .nonExtensible = true},
        {
            {ready, "ready", qa::MemberKind::Method, {}, VarType::Empty},
            {levelChanged, "levelChanged", qa::MemberKind::Method, {{"level", VarType::Int16}}, VarType::Empty},
        }};
    return info;
}

// Sinks that write what they receive into one shared log, so order across sinks shows.
std::shared_ptr<EventSink> loggingSink(std::vector<std::string>& log, std::string name) {
    return std::make_shared<EventSink>(lampEvents(), [&log, name](MemberId id, std::span<Variant> args) {
        std::string line = name + ":" + std::to_string(id);
        for (const Variant& arg : args) line += " " + arg.toText();
        log.push_back(line);
    });
}

TEST(ConnectionPoint, CallsEverySinkInTheOrderTheyWereAdvised) {
    std::vector<std::string> log;
    ConnectionPoint point(lampEvents());
    point.advise(loggingSink(log, "first"));
    point.advise(loggingSink(log, "second"));
    point.raise(ready);
    std::vector<Variant> args{Variant::fromInt16(40)};
    point.raise(levelChanged, args);
    EXPECT_EQ(log, (std::vector<std::string>{"first:1", "second:1", "first:2 40", "second:2 40"}));
    EXPECT_EQ(&point.eventInterface(), &lampEvents());
}

TEST(ConnectionPoint, RaiseWithNoSinkDoesNothing) {
    ConnectionPoint point(lampEvents());
    EXPECT_NO_THROW(point.raise(ready));
    EXPECT_EQ(point.sinkCount(), 0u);
}

TEST(ConnectionPoint, UnadvisedSinksAreNoLongerCalled) {
    std::vector<std::string> log;
    ConnectionPoint point(lampEvents());
    const auto first = point.advise(loggingSink(log, "first"));
    const auto second = point.advise(loggingSink(log, "second"));
    EXPECT_NE(first, 0u);
    EXPECT_NE(first, second);
    point.unadvise(first);
    point.raise(ready);
    EXPECT_EQ(log, std::vector<std::string>{"second:1"});
    EXPECT_EQ(point.sinkCount(), 1u);
}

TEST(ConnectionPoint, RejectsTheNullSinkAndUnknownCookies) {
    ConnectionPoint point(lampEvents());
    EXPECT_EQ(errorNumberOf([&] { point.advise(nullptr); }), en::CannotConnect);
    EXPECT_EQ(errorNumberOf([&] { point.unadvise(1); }), en::NoConnection);
    std::vector<std::string> log;
    const auto cookie = point.advise(loggingSink(log, "only"));
    point.unadvise(cookie);
    const auto twice = errorOf([&] { point.unadvise(cookie); });
    EXPECT_EQ(twice.number, en::NoConnection);
    EXPECT_NE(twice.description.find("__Lamp"), std::string::npos) << twice.description;
}

TEST(ConnectionPoint, ASinkMayDisconnectItselfOrOthersWhileAnEventIsRaised) {
    std::vector<std::string> log;
    ConnectionPoint point(lampEvents());
    ConnectionPoint::Cookie selfCookie = 0;
    ConnectionPoint::Cookie victimCookie = 0;
    selfCookie = point.advise(std::make_shared<EventSink>(lampEvents(), [&](MemberId, std::span<Variant>) {
        log.push_back("leaver");
        point.unadvise(selfCookie);
        point.unadvise(victimCookie);
        point.advise(loggingSink(log, "latecomer"));
    }));
    victimCookie = point.advise(loggingSink(log, "victim"));
    point.advise(loggingSink(log, "stayer"));

    point.raise(ready);
    EXPECT_EQ(log, (std::vector<std::string>{"leaver", "stayer:1"}));
    log.clear();
    point.raise(ready);
    EXPECT_EQ(log, (std::vector<std::string>{"stayer:1", "latecomer:1"}));
}

TEST(ConnectionPoint, EverySinkRunsBeforeASinkErrorReachesTheCaller) {
    std::vector<std::string> log;
    ConnectionPoint point(lampEvents());
    point.advise(std::make_shared<EventSink>(lampEvents(), [&](MemberId, std::span<Variant>) {
        log.push_back("failing");
        throw qa::RuntimeError(en::DeviceIoError, "the sink's own failure");
    }));
    point.advise(loggingSink(log, "after"));
    const auto raised = errorOf([&] { point.raise(ready); });
    EXPECT_EQ(raised.number, en::DeviceIoError);
    EXPECT_EQ(raised.description, "the sink's own failure");
    EXPECT_EQ(log, (std::vector<std::string>{"failing", "after:1"}));
}

// A sink whose own interface lacks the raised event: it just does not handle it.
class PartialSink : public qa::Dispatchable {
public:
    int calls = 0;
    const qa::InterfaceInfo& interfaceInfo() const override { return lampEvents(); }
    qa::Variant invoke(MemberId id, InvokeKind, std::span<Variant>) override {
        if (id != ready) throw qa::RuntimeError(en::MemberNotFound, "Member not found");
        ++calls;
        return {};
    }
};

TEST(ConnectionPoint, SinksThatDoNotHandleAnEventAreSkippedQuietly) {
    std::vector<std::string> log;
    ConnectionPoint point(lampEvents());
    auto partial = std::make_shared<PartialSink>();
    point.advise(partial);
    point.advise(loggingSink(log, "full"));
    std::vector<Variant> args{Variant::fromInt16(5)};
    EXPECT_NO_THROW(point.raise(levelChanged, args));
    point.raise(ready);
    EXPECT_EQ(partial->calls, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"full:2 5", "full:1"}));
}

TEST(ConnectionPoint, AnIdOutsideTheEventInterfaceCallsNoSink) {
    std::vector<std::string> log;
    ConnectionPoint point(lampEvents());
    point.advise(loggingSink(log, "sink"));
    EXPECT_EQ(errorNumberOf([&] { point.raise(3); }), en::MemberNotFound);
    EXPECT_TRUE(log.empty());
}

TEST(ConnectionPoint, EachSinkGetsItsOwnCopyOfTheArguments) {
    std::vector<std::string> log;
    ConnectionPoint point(lampEvents());
    point.advise(std::make_shared<EventSink>(
        lampEvents(), [](MemberId, std::span<Variant> args) { args[0] = Variant::fromInt16(-1); }));
    point.advise(loggingSink(log, "second"));
    std::vector<Variant> args{Variant::fromInt16(40)};
    point.raise(levelChanged, args);
    EXPECT_EQ(log, std::vector<std::string>{"second:2 40"});
    EXPECT_EQ(args[0], Variant::fromInt16(40));
}

TEST(EventSink, ChecksAndConvertsLikeAnyDispatchCall) {
    std::vector<Variant> received;
    EventSink sink(lampEvents(), [&](MemberId, std::span<Variant> args) { received.assign(args.begin(), args.end()); });
    sink.call(levelChanged, {Variant::fromText("45")});
    EXPECT_EQ(received, std::vector<Variant>{Variant::fromInt16(45)});
    EXPECT_EQ(errorNumberOf([&] { sink.call(levelChanged, {}); }), en::BadParameterCount);
    EXPECT_EQ(errorNumberOf([&] { sink.call(levelChanged, {Variant::fromText("dim")}); }), en::TypeMismatch);
    EXPECT_EQ(errorNumberOf([&] { sink.call(9); }), en::MemberNotFound);
    EXPECT_EQ(errorNumberOf([&] { sink.get(ready); }), en::MemberNotFound);
    EXPECT_EQ(received, std::vector<Variant>{Variant::fromInt16(45)});
}

}  // namespace
