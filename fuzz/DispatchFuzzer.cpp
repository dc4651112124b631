// Late-bound calls with whatever a host might send: any member id, any invoke kind, any
// number of arguments of any type, on the real control's member table and on collections
// (two of the host's and the control's own send queue). Between calls, bytes arrive from the
// interface, so the receive handler and x10ready run too, with an event sink that may fail or
// call back into the control.
//
// Rules checked on every call: only RuntimeError leaves invoke, and never the "unexpected
// failure" that stands for some other exception inside a member; an unknown id or a kind the
// member lacks is MemberNotFound, a wrong argument count BadParameterCount; a get returns the
// declared type; the caller's arguments are not written back; and afterwards every field still
// reads and a plain transmission still works.

#include <fuzzer/FuzzedDataProvider.h>

#include <QApplication>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "control/QuenvarControl.h"
#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarSurface.h"
#include "control/X10Codes.h"
#include "fuzz/FuzzCheck.h"
#include "platform/automation/Collection.h"
#include "platform/automation/ConnectionPoint.h"
#include "platform/automation/RuntimeError.h"
#include "platform/ui/MessageBoxes.h"
#include "tests/support/ScriptedSerialComponent.h"

namespace {

using quenvar::automation::Collection;
using quenvar::automation::CollectionRef;
using quenvar::automation::Dispatchable;
using quenvar::automation::InterfaceInfo;
using quenvar::automation::InvokeKind;
using quenvar::automation::MemberId;
using quenvar::automation::MemberInfo;
using quenvar::automation::MemberKind;
using quenvar::automation::ObjectRef;
using quenvar::automation::RuntimeError;
using quenvar::automation::Variant;
using quenvar::automation::VarType;
using quenvar::control::QuenvarControl;
using quenvar::fuzz::quoted;
namespace error_number = quenvar::automation::error_number;
namespace member = quenvar::control::member;

class CountingBoxes : public quenvar::ui::MessageBoxes {
public:
    int shown = 0;
    void showMessage(const std::string&, const std::string&) override { ++shown; }
};

bool answers(MemberKind member, InvokeKind kind) {
    switch (member) {
        case MemberKind::Method: return kind == InvokeKind::Method;
        case MemberKind::Property: return kind == InvokeKind::PropertyGet || kind == InvokeKind::PropertyPut;
        case MemberKind::ObjectProperty: return kind == InvokeKind::PropertyGet || kind == InvokeKind::PropertyPutRef;
        case MemberKind::ReadOnlyProperty: return kind == InvokeKind::PropertyGet;
    }
    return false;
}

std::size_t argumentCountOf(const MemberInfo& member, InvokeKind kind) {
    if (kind == InvokeKind::Method) return member.params.size();
    return kind == InvokeKind::PropertyGet ? 0 : 1;
}

const char* kindName(InvokeKind kind) {
    switch (kind) {
        case InvokeKind::Method: return "call";
        case InvokeKind::PropertyGet: return "get";
        case InvokeKind::PropertyPut: return "put";
        case InvokeKind::PropertyPutRef: return "putref";
    }
    return "?";
}

std::string describe(const Variant& value) {
    switch (value.type()) {
        case VarType::Empty: return "Empty";
        case VarType::Int16: return "Int16 " + std::to_string(value.toInt16());
        case VarType::Int32: return "Int32 " + std::to_string(value.toInt32());
        case VarType::Bool: return value.toBool() ? "True" : "False";
        case VarType::Text: return "Text " + quoted(value.toText());
        case VarType::Object: return value.toObject() ? "an object" : "Nothing";
    }
    return "?";
}

class DispatchRun {
public:
    explicit DispatchRun(FuzzedDataProvider& input);
    ~DispatchRun();
    void run();

private:
    enum Op : std::uint8_t { Invoke, InvokeKnown, Receive, Answer, SinkMood, OpCount };
    enum class Mood { Quiet, RaisesRuntimeError, ThrowsOther, CallsBack };

    void runOneOp();
    void invokeOnce(bool knownMember);
    void onX10ready();
    void checkStillUsable(const std::string& after);
    void finalCheck();

    ObjectRef pickTarget(std::string& name);
    Variant pickValue();
    std::string pickText();
    void check(bool holds, const std::string& rule, const std::string& details);
    CollectionRef seen(CollectionRef collection);

    FuzzedDataProvider& input_;
    std::shared_ptr<CountingBoxes> boxes_ = std::make_shared<CountingBoxes>();
    quenvar::testing::ScriptedSerialComponent* port_ = nullptr;
    std::shared_ptr<QuenvarControl> control_;
    CollectionRef first_ = std::make_shared<Collection>();
    CollectionRef second_ = std::make_shared<Collection>();
    std::vector<CollectionRef> collections_;  // every collection the host got hold of
    std::vector<std::string> trace_;
    Mood mood_ = Mood::Quiet;
    int depth_ = 0;
    int opsRun_ = 0;
    static constexpr int maxOps = 200;
};

DispatchRun::DispatchRun(FuzzedDataProvider& input) : input_(input) {
    auto component = std::make_unique<quenvar::testing::ScriptedSerialComponent>();
    port_ = component.get();
    // Ports 1 to 4 exist, 1 is selected; nothing is kept of what is written.
    port_->port = 1;
    port_->highestPort = 4;
    port_->keepWrites = false;
    control_ = std::make_shared<QuenvarControl>(std::move(component), boxes_);
    collections_ = {first_, second_};
    auto* events = control_->findConnectionPoint(quenvar::control::identifiers::quenvarEvents);
    check(events != nullptr, "the control has the connection point of its events", "none found");
    events->advise(std::make_shared<quenvar::automation::EventSink>(
        events->eventInterface(), [this](MemberId, std::span<Variant>) { onX10ready(); }));
}

DispatchRun::~DispatchRun() {
    // Host-made reference cycles (a queue holding the control, a collection holding itself)
    // are the host's to break, as with any reference-counted object model.
    for (const auto& collection : collections_) {
        while (collection->count() > 0) collection->remove(1);
    }
    control_->core().setColstring(nullptr);
}

void DispatchRun::check(bool holds, const std::string& rule, const std::string& details) {
    if (holds) return;
    std::string story = details + "\n    the calls so far:";
    const std::size_t first = trace_.size() > 40 ? trace_.size() - 40 : 0;
    for (std::size_t i = first; i < trace_.size(); ++i) story += "\n      " + trace_[i];
    quenvar::fuzz::fail(rule, story);
}

CollectionRef DispatchRun::seen(CollectionRef collection) {
    bool known = false;
    for (const auto& c : collections_) known = known || c == collection;
    if (!known) collections_.push_back(collection);
    return collection;
}

ObjectRef DispatchRun::pickTarget(std::string& name) {
    switch (input_.ConsumeIntegralInRange<int>(0, 4)) {
        case 0: name = "first collection"; return first_;
        case 1: name = "second collection"; return second_;
        case 2: name = "the control's queue"; return seen(control_->core().colstring());
        default: name = "control"; return control_;
    }
}

std::string DispatchRun::pickText() {
    static constexpr const char* usual[] = {"A", "p", "01", "16", "1", "x", "", "40000", " 7 ", "\x04", "\x55", "True"};
    if (input_.ConsumeBool()) return usual[input_.ConsumeIntegralInRange<int>(0, 11)];
    return input_.ConsumeRandomLengthString(6);
}

Variant DispatchRun::pickValue() {
    switch (input_.ConsumeIntegralInRange<int>(0, 10)) {
        case 0: return Variant();
        case 1: return Variant::fromInt16(input_.ConsumeIntegral<std::int16_t>());
        case 2: return Variant::fromInt32(input_.ConsumeIntegral<std::int32_t>());
        case 3: return Variant::fromBool(input_.ConsumeBool());
        case 4: return Variant::nullObject();
        case 5: return Variant::fromObject(first_);
        case 6: return Variant::fromObject(second_);
        case 7: return Variant::fromObject(control_);
        case 8: return Variant::fromObject(seen(control_->core().colstring()));
        default: return Variant::fromText(pickText());
    }
}

void DispatchRun::invokeOnce(bool knownMember) {
    std::string targetName;
    const ObjectRef target = pickTarget(targetName);
    const InterfaceInfo& info = target->interfaceInfo();

    MemberId id = 0;
    if (knownMember && !info.members.empty()) {
        id = info.members[input_.ConsumeIntegralInRange<std::size_t>(0, info.members.size() - 1)].id;
    } else if (input_.ConsumeBool()) {
        // Ids beside the real ones: the gaps of the control's numbering, neighbours, the default member.
        static constexpr MemberId nearby[] = {0,          -1,         4,          0x40030007, 0x3FFFFFFF,    0x60030002,
                                              0x60030003, 0x6003000B, 0x6003000D, 0x60020000, 0x40030000 - 1};
        id = nearby[input_.ConsumeIntegralInRange<int>(0, 10)];
    } else {
        id = input_.ConsumeIntegral<MemberId>();
    }
    const MemberInfo* member = info.find(id);

    InvokeKind kind = static_cast<InvokeKind>(input_.ConsumeIntegralInRange<int>(0, 3));
    if (member != nullptr && input_.ConsumeBool()) {
        kind = member->kind == MemberKind::Method ? InvokeKind::Method : InvokeKind::PropertyGet;
        if (member->kind == MemberKind::Property && input_.ConsumeBool()) kind = InvokeKind::PropertyPut;
        if (member->kind == MemberKind::ObjectProperty && input_.ConsumeBool()) kind = InvokeKind::PropertyPutRef;
    }
    std::size_t count = input_.ConsumeIntegralInRange<std::size_t>(0, 4);
    if (member != nullptr && input_.ConsumeIntegral<std::uint8_t>() < 200) count = argumentCountOf(*member, kind);

    std::vector<Variant> args;
    for (std::size_t i = 0; i < count; ++i) args.push_back(pickValue());
    const std::vector<Variant> given = args;

    std::string call =
        targetName + " " + kindName(kind) + " " + (member ? member->name : "id " + std::to_string(id)) + "(";
    for (std::size_t i = 0; i < args.size(); ++i) call += (i ? ", " : "") + describe(args[i]);
    call += ")";
    trace_.push_back(std::string(static_cast<std::size_t>(depth_) * 2, ' ') + call);

    std::int32_t due = 0;  // the dispatch failure the call must end with
    if (member == nullptr || !answers(member->kind, kind))
        due = error_number::MemberNotFound;
    else if (count != argumentCountOf(*member, kind))
        due = error_number::BadParameterCount;

    Variant result;
    std::int32_t raised = 0;
    std::string description;
    try {
        result = target->invoke(id, kind, args);
    } catch (const RuntimeError& error) {
        raised = error.number();
        description = error.description();
    } catch (const std::exception& failure) {
        check(false, "only run-time errors leave invoke", call + " threw " + failure.what());
    }
    trace_.back() += raised ? " -> error " + std::to_string(raised) + " " + description : " -> " + describe(result);

    check(raised != error_number::UnexpectedFailure, "members fail only with run-time errors of their own",
          call + ": " + description);
    if (due != 0) {
        check(raised == due, "an unknown member or kind is MemberNotFound, a wrong argument count BadParameterCount",
              call + " raised " + std::to_string(raised) + ", expected " + std::to_string(due));
    }
    if (raised == 0 && kind == InvokeKind::PropertyGet && member->valueType != VarType::Empty) {
        check(result.type() == member->valueType, "a get returns the declared type",
              call + " gave " + describe(result));
    }
    if (raised == 0 && kind != InvokeKind::Method && kind != InvokeKind::PropertyGet) {
        check(result.isEmpty(), "a put returns nothing", call + " gave " + describe(result));
    }
    check(args == given, "the caller's arguments are not written back", call);
    checkStillUsable(call);
}

void DispatchRun::onX10ready() {
    trace_.push_back(std::string(static_cast<std::size_t>(depth_) * 2, ' ') + "(x10ready reaches the sink)");
    switch (mood_) {
        case Mood::Quiet: return;
        case Mood::RaisesRuntimeError: throw RuntimeError(error_number::Overflow, "Overflow");
        case Mood::ThrowsOther: throw std::runtime_error("the host's handler broke");
        case Mood::CallsBack:
            if (depth_ < 2 && input_.remaining_bytes() > 0) {
                ++depth_;
                invokeOnce(input_.ConsumeBool());
                --depth_;
            }
            return;
    }
}

void DispatchRun::checkStillUsable(const std::string& after) {
    for (const MemberInfo& field : control_->interfaceInfo().members) {
        if (field.kind == MemberKind::Method) continue;
        try {
            const Variant value = control_->get(field.id);
            check(value.type() == field.valueType, "every field reads with its declared type",
                  field.name + " after " + after + " gave " + describe(value));
        } catch (const RuntimeError& error) {
            check(false, "every field reads", field.name + " after " + after + " raised " + error.description());
        }
    }
    for (const auto& collection : {first_, second_}) {
        const Variant count = collection->get(quenvar::automation::collection_member::Count);
        check(count == Variant::fromInt32(collection->count()), "a collection's Count is its number of entries", after);
    }
}

void DispatchRun::finalCheck() {
    // Whatever came before, a host that empties its send queue can still open the port and put a
    // transmission on the line.
    mood_ = Mood::Quiet;
    port_->writeError.reset();
    const CollectionRef queue = control_->core().colstring();
    while (queue->count() > 0) queue->remove(1);
    std::string written;
    port_->onWrite = [&](const std::string& bytes) { written += bytes; };
    const std::string plain = "\x04\x66";
    try {
        control_->call(member::closex10);
        port_->unread.clear();
        control_->call(member::openx10, {Variant::fromInt16(1)});
        control_->call(member::sendx10, {Variant::fromText(plain.substr(0, 1)), Variant::fromText(plain.substr(1))});
        if (written != plain) {
            // An upload was being read: the transmission it interrupted goes out again first, and
            // the new one follows once the interface has taken that one.
            trace_.push_back("(went out again first: " + quenvar::fuzz::hexBytes(written) + ")");
            written.clear();
            port_->receive(control_->core().checksum().substr(0, 1));
            port_->receive(std::string(1, static_cast<char>(quenvar::control::x10::readyByte)));
            check(written.substr(0, 1) == std::string(1, static_cast<char>(quenvar::control::x10::acknowledgeByte)),
                  "the control stays usable", "the transmission sent again was not acknowledged");
            written.erase(0, 1);
        }
    } catch (const RuntimeError& error) {
        check(false, "the control stays usable", "a plain transmission at the end raised " + error.description());
    }
    check(written == plain, "the control stays usable",
          "a plain transmission wrote " + quenvar::fuzz::hexBytes(written));
    check(control_->get(member::comstatus) == Variant::fromInt16(1) &&
              control_->get(member::checksum) == Variant::fromText("\x6A"),
          "the control stays usable", "a plain transmission did not arm the handshake");
}

void DispatchRun::runOneOp() {
    ++opsRun_;
    switch (static_cast<Op>(input_.ConsumeIntegralInRange<int>(0, OpCount - 1))) {
        case Invoke: invokeOnce(false); break;
        case InvokeKnown: invokeOnce(true); break;
        case Receive:
        case Answer: {
            if (!port_->portOpen() || port_->unread.size() > 16) break;
            std::uint8_t byte = input_.ConsumeIntegral<std::uint8_t>();
            const std::string& expected = control_->core().checksum();
            if (byte % 4 == 0)
                byte = 0x55;
            else if (byte % 4 == 1 && !expected.empty())
                byte = static_cast<std::uint8_t>(expected.front());
            port_->unread += static_cast<char>(byte);
            trace_.push_back("(the interface sends " +
                             quenvar::fuzz::hexBytes(std::string(1, static_cast<char>(byte))) + ")");
            try {
                port_->notify(quenvar::serial::comm_event::Receive);
            } catch (const std::exception& failure) {
                check(false, "the receive handler reports its errors to the user", failure.what());
            }
            checkStillUsable("a received byte");
            break;
        }
        case SinkMood: mood_ = static_cast<Mood>(input_.ConsumeIntegralInRange<int>(0, 3)); break;
        case OpCount: break;
    }
}

void DispatchRun::run() {
    while (input_.remaining_bytes() > 0 && opsRun_ < maxOps) runOneOp();
    finalCheck();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // One application for the whole run; the control is a widget's owner even when unshown.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "fuzz_dispatch";
    static char* argv[] = {name, nullptr};
    static QApplication application(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    DispatchRun run(input);
    run.run();
    return 0;
}
