// A small in-process server for the loading tests: a creatable class with one property and
// one method, and a class whose creation fails.

#include <memory>
#include <stdexcept>

#include "TestServerIds.h"
#include "platform/automation/ComModule.h"
#include "platform/automation/ConnectionPoint.h"
#include "platform/automation/Dispatch.h"
#include "platform/automation/TypeInfo.h"

namespace qa = quenvar::automation;
using qa::Variant;
using qa::VarType;

namespace {

class Greeter;
const qa::TypeLibrary& library();

const qa::InterfaceInfo& greeterEvents() {
    static const qa::InterfaceInfo info{test_server::greeterEventsIid,
                                        "__Greeter",
                                        qa::InterfaceFlags{.dispatchOnly = true},
                                        {{1, "greeted", qa::MemberKind::Method, {}, VarType::Empty}}};
    return info;
}

class Greeter : public qa::Dispatchable, public qa::ClassInfoProvider {
public:
    std::string name = "world";

    static const qa::DispatchTable<Greeter>& table() {
        using B = qa::MemberBinding<Greeter>;
        static const qa::DispatchTable<Greeter> table(
            test_server::greeterIid, "_Greeter", qa::InterfaceFlags{.dual = true},
            {B::property(
                 test_server::nameId, "name", VarType::Text, [](Greeter& g) { return Variant::fromText(g.name); },
                 [](Greeter& g, const Variant& v) { g.name = v.toText(); }),
             B::function(
                 test_server::greetId, "greet", {{"greeting", VarType::Text}}, VarType::Text,
                 [](Greeter& g, std::span<Variant> a) { return Variant::fromText(a[0].toText() + ", " + g.name); })});
        return table;
    }
    const qa::InterfaceInfo& interfaceInfo() const override { return table().info(); }
    Variant invoke(qa::MemberId id, qa::InvokeKind kind, std::span<Variant> args) override {
        return table().invoke(*this, id, kind, args);
    }
    const qa::TypeLibrary& typeLibrary() const override { return library(); }
    const qa::ClassInfo& classInfo() const override { return library().classes[0]; }
};

const qa::TypeLibrary& library() {
    static const qa::TypeLibrary lib{
        {test_server::libraryId, "GreeterLib", "Greeters", 2, 3, 0x409, true},
        {{test_server::greeterClsid, "Greeter", true, false, &Greeter::table().info(), &greeterEvents()},
         {test_server::brokenClsid, "Broken", false, true, &Greeter::table().info(), nullptr}},
        {&Greeter::table().info(), &greeterEvents()}};
    return lib;
}

const qa::InProcessServer& server() {
    static const qa::InProcessServer instance(qa::ProjectDescriptor{
        &library(),
        {qa::ClassRegistration{.clsid = test_server::greeterClsid,
                               .progId = test_server::greeterProgId,
                               .toolboxBitmap = 30000,
                               .miscStatus = 0x20191,
                               .create = [] { return std::make_shared<Greeter>(); }},
         qa::ClassRegistration{
             .clsid = test_server::brokenClsid, .progId = test_server::brokenProgId, .create = []() -> qa::ObjectRef {
                 throw qa::RuntimeError(qa::error_number::DeviceUnavailable, "Device unavailable: no greeting device");
             }}}});
    return instance;
}

}  // namespace

QUENVAR_EXPORT_SERVER_ENTRY_POINTS(server())
