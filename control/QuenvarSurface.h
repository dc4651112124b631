#pragma once
// The late-bound surface of the quenvar control: the member ids hosts call, the interfaces
// `_quenvar` and `__quenvar`, and the type library that describes them.
//
// Hosts depend on these exact ids; they never change.

#include "platform/automation/Dispatch.h"
#include "platform/automation/TypeInfo.h"

namespace quenvar::control {

class Quenvar;

// Member ids of `_quenvar`. Fields are 0x40030000 + their position; methods are 0x60030000 +
// the position of the procedure in the class, private ones counted, so 0x60030002,
// 0x60030003 and 0x6003000B belong to no member. Id 0 belongs to no member either: the
// control has no default member.
namespace member {
inline constexpr automation::MemberId comstatus = 0x40030000;
inline constexpr automation::MemberId strtotal = 0x40030001;
inline constexpr automation::MemberId sendstatus = 0x40030002;
inline constexpr automation::MemberId colstring = 0x40030003;
inline constexpr automation::MemberId checksum = 0x40030004;
inline constexpr automation::MemberId countmacro = 0x40030005;
// 0 answers the interface's power-fail request with a macro download, 1 with a clock setting;
// writing any other value fails with run-time error 380 and changes nothing.
inline constexpr automation::MemberId powerfailreply = 0x40030006;
inline constexpr automation::MemberId openx10 = 0x60030000;
inline constexpr automation::MemberId closex10 = 0x60030001;
inline constexpr automation::MemberId lightson = 0x60030004;
inline constexpr automation::MemberId sendx10 = 0x60030005;
inline constexpr automation::MemberId Lightsoff = 0x60030006;
inline constexpr automation::MemberId x10on = 0x60030007;
inline constexpr automation::MemberId x10off = 0x60030008;
inline constexpr automation::MemberId x10dim = 0x60030009;
inline constexpr automation::MemberId x10brighten = 0x6003000A;
inline constexpr automation::MemberId alloff = 0x6003000C;
}  // namespace member

// Event ids of `__quenvar`.
namespace event {
inline constexpr automation::MemberId x10ready = 1;
inline constexpr automation::MemberId x10received = 2;
}  // namespace event

// `_quenvar`: dual, hidden, not extensible, automation-compatible; seven fields (each a
// get and a put entry, colstring a get and a putref entry) and ten methods, 24 entries.
const automation::InterfaceInfo& quenvarInterface();
// `__quenvar`: dispatch-only, hidden, not extensible; the events x10ready and
// x10received(house, units, command: texts; level: 16-bit integer), all by reference.
const automation::InterfaceInfo& quenvarEventInterface();
// The library Zelvo 1.0 (locale 0x409, holds controls) with its one class quenvar.
const automation::TypeLibrary& quenvarTypeLibrary();

// Runs the member `id` of `_quenvar` on the control's core (the guarantees of DispatchTable
// apply). Every platform's control object answers its hosts' calls through this one table.
automation::Variant invokeQuenvarMember(Quenvar& control, automation::MemberId id, automation::InvokeKind kind,
                                        std::span<automation::Variant> args);

}  // namespace quenvar::control
