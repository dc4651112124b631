#pragma once
// A type library written out as interface-definition text: the form a module carries as its
// type library resource, and the form people read. Produced from the same tables that drive
// dispatch, so the text cannot disagree with what the objects answer. The text is valid for
// the interface definition compilers (midl, widl), which turn it into a binary type library.

#include <string>

#include "platform/automation/TypeInfo.h"

namespace quenvar::automation {

std::string typeLibraryText(const TypeLibrary& library);

}  // namespace quenvar::automation
