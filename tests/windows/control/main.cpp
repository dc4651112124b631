// The test host's main: COM initialised on this thread for the whole program, as a host's
// user-interface thread has it.
#include "tests/windows/control/ControlHost.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new quenvar::testing::ComApartment);
    return RUN_ALL_TESTS();
}
