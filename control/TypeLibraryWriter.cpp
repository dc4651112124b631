// Build step: writes the control's type library as text, from the same member tables that
// drive its dispatch, for the module to carry as its type library resource.

#include <cstdio>
#include <fstream>

#include "control/QuenvarSurface.h"
#include "platform/automation/TypeLibraryText.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FILE\n", argv[0]);
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << quenvar::automation::typeLibraryText(quenvar::control::quenvarTypeLibrary());
    out.close();
    if (!out) {
        std::fprintf(stderr, "%s: cannot write the type library to %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
