#pragma once
// Identifiers shared by the test server module and the tests that load it.

#include "platform/automation/Dispatch.h"
#include "platform/automation/Guid.h"

namespace test_server {
using quenvar::automation::Guid;
inline constexpr Guid libraryId = Guid::parse("{7D3E0B61-0C55-4F0E-9A7B-5B2C0D6E1F01}");
inline constexpr Guid greeterClsid = Guid::parse("{7D3E0B61-0C55-4F0E-9A7B-5B2C0D6E1F02}");
inline constexpr Guid brokenClsid = Guid::parse("{7D3E0B61-0C55-4F0E-9A7B-5B2C0D6E1F03}");
inline constexpr Guid greeterIid = Guid::parse("{7D3E0B61-0C55-4F0E-9A7B-5B2C0D6E1F04}");
inline constexpr Guid greeterEventsIid = Guid::parse("{7D3E0B61-0C55-4F0E-9A7B-5B2C0D6E1F05}");
inline constexpr const char* greeterProgId = "Automation.TestGreeter";
inline constexpr const char* brokenProgId = "Automation.TestBroken";
inline constexpr quenvar::automation::MemberId nameId = 0x40030000;
inline constexpr quenvar::automation::MemberId greetId = 0x60030000;
}  // namespace test_server
