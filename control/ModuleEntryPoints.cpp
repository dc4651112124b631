// The module's four exported entry points. Each hands over at once to the runtime's
// in-process server, which does the work from the project descriptor below: the library's
// type information, and for its one class what registration records and how to make an
// instance.

#include <memory>

#include "control/QuenvarControl.h"
#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarResources.h"
#include "control/QuenvarSurface.h"
#include "platform/automation/ComModule.h"

namespace quenvar::control {
namespace {

// OLEMISC_RECOMPOSEONRESIZE | CANTLINKINSIDE | INSIDEOUT | ACTIVATEWHENVISIBLE |
// SETCLIENTSITEFIRST: the control is visible at run time.
constexpr std::uint32_t quenvarMiscStatus = 0x20191;

const automation::InProcessServer& quenvarServer() {
    static const automation::InProcessServer server(automation::ProjectDescriptor{
        &quenvarTypeLibrary(),
        {automation::ClassRegistration{
            .clsid = identifiers::quenvarClass,
            .progId = "Zelvo.quenvar",
            .toolboxBitmap = resource::toolboxBitmapNumber,
            .miscStatus = quenvarMiscStatus,
            .threadingModel = "Apartment",
            .version = "1.0",
            .create = [] { return std::make_shared<QuenvarControl>(); },
        }},
    });
    return server;
}

}  // namespace
}  // namespace quenvar::control

QUENVAR_EXPORT_SERVER_ENTRY_POINTS(::quenvar::control::quenvarServer())
