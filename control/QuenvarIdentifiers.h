#pragma once
// The fixed identifiers of the quenvar library. Hosts, registry records and the identifier
// resources in the module all depend on these values: never change them.

#include "platform/automation/Guid.h"

namespace quenvar::control::identifiers {

// The type library "Zelvo".
inline constexpr automation::Guid library = automation::Guid::parse("{1813050A-EE65-4BC8-BA04-9CB688366C4B}");
// The control class quenvar (ProgID Zelvo.quenvar).
inline constexpr automation::Guid quenvarClass = automation::Guid::parse("{93CC045B-AB54-49DD-8BF3-2476DCB1E4B5}");
// The default interface _quenvar.
inline constexpr automation::Guid quenvarInterface = automation::Guid::parse("{FBE72C33-2366-4540-9E7E-1D5DDD46D892}");
// The event interface __quenvar.
inline constexpr automation::Guid quenvarEvents = automation::Guid::parse("{DCC64D98-0910-4CAB-A441-CA32B68A83B9}");

}  // namespace quenvar::control::identifiers
