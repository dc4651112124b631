// The member table of `_quenvar`, the event interface `__quenvar` and the type library.
// One table gives both the description hosts read and the code each id runs. Its rows work on
// the core alone, so every platform's control object dispatches through the same table.

#include "control/QuenvarSurface.h"

#include "control/Quenvar.h"
#include "control/QuenvarIdentifiers.h"
#include "platform/automation/Collection.h"

namespace quenvar::control {

using automation::InterfaceFlags;
using automation::MemberBinding;
using automation::Variant;
using automation::VarType;
using Row = MemberBinding<Quenvar>;
using Args = std::span<Variant>;

namespace {

const automation::DispatchTable<Quenvar>& quenvarTable() {
    static const automation::DispatchTable<Quenvar> table(
        identifiers::quenvarInterface, "_quenvar",
        InterfaceFlags{.dual = true, .hidden = true, .nonExtensible = true, .automationCompatible = true},
        {
            // Fields: the accessors of the first six only copy; a write has no further effect.
            Row::property(
                member::comstatus, "comstatus", VarType::Int16,
                [](Quenvar& c) { return Variant::fromInt16(c.comstatus()); },
                [](Quenvar& c, const Variant& v) { c.setComstatus(v.toInt16()); }),
            Row::property(
                member::strtotal, "strtotal", VarType::Text, [](Quenvar& c) { return Variant::fromText(c.strtotal()); },
                [](Quenvar& c, const Variant& v) { c.setStrtotal(v.toText()); }),
            Row::property(
                member::sendstatus, "sendstatus", VarType::Bool,
                [](Quenvar& c) { return Variant::fromBool(c.sendstatus()); },
                [](Quenvar& c, const Variant& v) { c.setSendstatus(v.toBool()); }),
            Row::objectProperty(
                member::colstring, "colstring", [](Quenvar& c) { return Variant::fromObject(c.colstring()); },
                [](Quenvar& c, const Variant& v) {
                    c.setColstring(automation::objectAs<automation::Collection>(v.toObject()));
                }),
            Row::property(
                member::checksum, "checksum", VarType::Text, [](Quenvar& c) { return Variant::fromText(c.checksum()); },
                [](Quenvar& c, const Variant& v) { c.setChecksum(v.toText()); }),
            Row::property(
                member::countmacro, "countmacro", VarType::Int16,
                [](Quenvar& c) { return Variant::fromInt16(c.countmacro()); },
                [](Quenvar& c, const Variant& v) { c.setCountmacro(v.toInt16()); }),
            // How the interface's power-fail request is answered: checked, unlike the others.
            Row::property(
                member::powerfailreply, "powerfailreply", VarType::Int16,
                [](Quenvar& c) { return Variant::fromInt16(c.powerfailreply()); },
                [](Quenvar& c, const Variant& v) { c.setPowerfailreply(v.toInt16()); }),

            // Methods, in the order of the class's procedures.
            Row::method(member::openx10, "openx10", {{"port", VarType::Int16}},
                        [](Quenvar& c, Args a) { c.openx10(a[0].toInt16()); }),
            Row::method(member::closex10, "closex10", {}, [](Quenvar& c, Args) { c.closex10(); }),
            Row::method(member::lightson, "lightson", {{"house", VarType::Text}},
                        [](Quenvar& c, Args a) { c.lightson(a[0].toText()); }),
            Row::method(member::sendx10, "sendx10", {{"str1", VarType::Text}, {"str2", VarType::Text}},
                        [](Quenvar& c, Args a) { c.sendx10(a[0].toText(), a[1].toText()); }),
            Row::method(member::Lightsoff, "Lightsoff", {{"house", VarType::Text}},
                        [](Quenvar& c, Args a) { c.Lightsoff(a[0].toText()); }),
            Row::method(member::x10on, "x10on", {{"house", VarType::Text}, {"unit", VarType::Text}},
                        [](Quenvar& c, Args a) { c.x10on(a[0].toText(), a[1].toText()); }),
            Row::method(member::x10off, "x10off", {{"house", VarType::Text}, {"unit", VarType::Text}},
                        [](Quenvar& c, Args a) { c.x10off(a[0].toText(), a[1].toText()); }),
            Row::method(member::x10dim, "x10dim",
                        {{"house", VarType::Text}, {"unit", VarType::Text}, {"dimvalue", VarType::Int16}},
                        [](Quenvar& c, Args a) { c.x10dim(a[0].toText(), a[1].toText(), a[2].toInt16()); }),
            Row::method(member::x10brighten, "x10brighten",
                        {{"house", VarType::Text}, {"unit", VarType::Text}, {"dimvalue", VarType::Int16}},
                        [](Quenvar& c, Args a) { c.x10brighten(a[0].toText(), a[1].toText(), a[2].toInt16()); }),
            Row::method(member::alloff, "alloff", {{"house", VarType::Text}},
                        [](Quenvar& c, Args a) { c.alloff(a[0].toText()); }),
        });
    return table;
}

}  // namespace

const automation::InterfaceInfo& quenvarInterface() { return quenvarTable().info(); }

const automation::InterfaceInfo& quenvarEventInterface() {
    static const automation::InterfaceInfo events{
        identifiers::quenvarEvents,
        "__quenvar",
        InterfaceFlags{.dispatchOnly = true, .hidden = true, .nonExtensible = true},
        {
            {event::x10ready, "x10ready", automation::MemberKind::Method, {}, VarType::Empty},
            // One function another transmitter put on the power line, as the interface heard it.
            {event::x10received,
             "x10received",
             automation::MemberKind::Method,
             {{"house", VarType::Text},
              {"units", VarType::Text},
              {"command", VarType::Text},
              {"level", VarType::Int16}},
             VarType::Empty},
        },
    };
    return events;
}

const automation::TypeLibrary& quenvarTypeLibrary() {
    static const automation::TypeLibrary library{
        automation::TypeLibraryInfo{
            .libid = identifiers::library,
            .name = "Zelvo",
            .helpText = "Zelvo",
            .majorVersion = 1,
            .minorVersion = 0,
            .lcid = 0x409,
            .holdsControls = true,
        },
        {automation::ClassInfo{
            .clsid = identifiers::quenvarClass,
            .name = "quenvar",
            .isControl = true,
            .creatable = false,
            .defaultInterface = &quenvarInterface(),
            .defaultSource = &quenvarEventInterface(),
        }},
        {&quenvarInterface(), &quenvarEventInterface()},
    };
    return library;
}

automation::Variant invokeQuenvarMember(Quenvar& control, automation::MemberId id, automation::InvokeKind kind,
                                        std::span<automation::Variant> args) {
    return quenvarTable().invoke(control, id, kind, args);
}

}  // namespace quenvar::control
