#pragma once
// The member ids of the quenvar control that this program calls. Calls go late bound, by id,
// so the program never links the control's library; these values are part of the control's
// published surface and never change.

#include "platform/automation/Dispatch.h"

namespace quenvar::sample::member {

using automation::MemberId;

inline constexpr MemberId openx10 = 0x60030000;
inline constexpr MemberId closex10 = 0x60030001;
inline constexpr MemberId lightson = 0x60030004;
inline constexpr MemberId x10on = 0x60030007;
inline constexpr MemberId x10off = 0x60030008;
inline constexpr MemberId x10dim = 0x60030009;
inline constexpr MemberId x10brighten = 0x6003000a;
inline constexpr MemberId alloff = 0x6003000c;

}  // namespace quenvar::sample::member
