// The module's four exported entry points. Each hands over at once to the runtime's
// in-process server, which does the work from the project descriptor below: the library's
// type information, and for its one class what registration records and how to make an
// instance.

#include <memory>

#include "control/QuenvarControl.h"
#include "control/QuenvarRegistration.h"
#include "control/QuenvarSurface.h"
#include "platform/automation/ComModule.h"

namespace quenvar::control {
namespace {

const automation::InProcessServer& quenvarServer() {
    static const automation::InProcessServer server(automation::ProjectDescriptor{
        &quenvarTypeLibrary(),
        {quenvarRegistration<automation::ClassCreator>([] { return std::make_shared<QuenvarControl>(); })},
    });
    return server;
}

}  // namespace
}  // namespace quenvar::control

QUENVAR_EXPORT_SERVER_ENTRY_POINTS(::quenvar::control::quenvarServer())
