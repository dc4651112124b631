#pragma once
// The dual interface `_quenvar` as widl writes it from the type library the build generates.
// The header also declares the coclass `quenvar` at global scope, which would clash with the
// project's namespace of that name: it is declared here as `quenvar_coclass` instead.

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#define quenvar quenvar_coclass
#include "quenvar_idl.h"
#undef quenvar
