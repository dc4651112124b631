#pragma once
// A type library written out as interface-definition text: the form a module carries as its
// type library resource, and the form people read. Produced from the same tables that drive
// dispatch, so the text cannot disagree with what the objects answer.

#include <string>

#include "platform/automation/TypeInfo.h"

namespace quenvar::automation {

std::string typeLibraryText(const TypeLibrary& library);

}  // namespace quenvar::automation
