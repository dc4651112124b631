#pragma once
// Values crossing the COM surface: VARIANTs and BSTRs to and from the runtime's Variant and
// texts.
//
// Texts inside the runtime are single-byte: a character's code is its code in the system's
// ANSI code page, as in the language runtime that hosts of a visual control expect. A BSTR
// is converted with that code page both ways, so every byte 0..255 that the code page maps
// round-trips exactly (the characters of 0xFB and 0xA5 included).

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "platform/automation/Variant.h"

namespace quenvar::automation::windows {

std::string textFromBstr(BSTR text);
// A new BSTR the caller owns; nullptr only when memory runs out.
BSTR bstrFromText(const std::string& text);

// The value a host passed, by value or by reference (VT_BYREF, including a VARIANT holding a
// reference, as VBScript passes its variables). Texts, 16- and 32-bit integers, Booleans,
// empty and objects come across as they are; other numbers (bytes, doubles, currency,
// decimals, dates...) as their text in the invariant locale, so that the runtime's own rules
// judge them. Raises RuntimeError type mismatch (13) for what no conversion can take (arrays,
// Null, a missing argument, an object this runtime did not make).
Variant variantFromCom(const VARIANT& value);

// Writes `value` into `out` (which the caller has initialised); objects of the runtime are
// handed out as IDispatch.
void variantToCom(const Variant& value, VARIANT* out);

}  // namespace quenvar::automation::windows
