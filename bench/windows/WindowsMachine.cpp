// The machine a Windows benchmark ran on, as the system describes it: the processor's name
// from the registry, the processor count, and the Wine version when Wine runs the program.

#include <windows.h>

#include <cstdio>
#include <string>

#include "bench/BenchSupport.h"

namespace quenvar::bench {
namespace {

std::string processorName() {
    char name[256] = {};
    DWORD size = sizeof name;
    if (RegGetValueA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", "ProcessorNameString",
                     RRF_RT_REG_SZ, nullptr, name, &size) != ERROR_SUCCESS) {
        return "unknown CPU";
    }
    return name;
}

std::string systemName() {
    using WineVersion = const char*(CDECL*)();
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    void* const found = ntdll != nullptr ? reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")) : nullptr;
    const auto wineVersion = reinterpret_cast<WineVersion>(found);
    std::string name = wineVersion != nullptr ? std::string("Wine ") + wineVersion() : std::string("Windows");
    return name + (sizeof(void*) == 8 ? ", 64-bit program" : ", 32-bit program");
}

}  // namespace

std::string machineDescription() {
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    const unsigned processors = system.dwNumberOfProcessors;
    return processorName() + ", " + std::to_string(processors) + (processors == 1 ? " core, " : " cores, ") +
           systemName();
}

void printHeader(const char* title) {
    std::printf("%s\nmachine: %s\n", title, machineDescription().c_str());
    std::fflush(stdout);
}

}  // namespace quenvar::bench
