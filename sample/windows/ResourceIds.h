#pragma once
// Resource ids, shared by the resource script and the code (hence macros).

#define QUENVARSAMPLE_ICON 1
