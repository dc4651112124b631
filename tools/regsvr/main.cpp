// quenvar-regsvr [-u] MODULE: registers (or with -u unregisters) the classes of an
// in-process server module by calling its DllRegisterServer (DllUnregisterServer).

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/automation/ClassRegistry.h"
#include "platform/automation/ObjectCreation.h"
#include "platform/automation/RuntimeError.h"

namespace qa = quenvar::automation;

namespace {

constexpr const char* usage =
    "usage: quenvar-regsvr [-u] MODULE\n"
    "  Registers the classes of MODULE in the class registry; -u removes them again.\n"
    "  The registry folder is $QUENVAR_REGISTRY, else $XDG_DATA_HOME/quenvar/registry,\n"
    "  else ~/.local/share/quenvar/registry.\n";

std::string statusText(std::int32_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(status));
    return text;
}

std::string absolute(const std::string& path) {
    std::error_code error;
    const auto resolved = std::filesystem::weakly_canonical(path, error);
    return error ? path : resolved.string();
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    std::string modulePath;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-u" || argument == "/u") {
            unregister = true;
        } else if (argument == "-h" || argument == "--help") {
            std::fputs(usage, stdout);
            return 0;
        } else if (modulePath.empty() && !argument.starts_with('-')) {
            modulePath = argument;
        } else {
            std::fprintf(stderr, "quenvar-regsvr: unexpected argument \"%s\"\n%s", argv[i], usage);
            return 2;
        }
    }
    if (modulePath.empty()) {
        std::fprintf(stderr, "quenvar-regsvr: no module given\n%s", usage);
        return 2;
    }

    const std::string folder = qa::ClassRegistry::standardFolder().string();
    const char* entryName = unregister ? qa::entry_point_name::unregisterServer : qa::entry_point_name::registerServer;
    try {
        const qa::ServerModule module = qa::ServerModule::load(modulePath);
        const auto entry = reinterpret_cast<std::int32_t (*)()>(module.entryPoint(entryName));
        const std::int32_t status = entry();
        if (status != qa::server_status::Ok) {
            const std::string& detail = qa::lastServerError();
            std::fprintf(stderr, "quenvar-regsvr: %s of %s failed with status %s%s%s\n", entryName,
                         absolute(modulePath).c_str(), statusText(status).c_str(), detail.empty() ? "" : ": ",
                         detail.c_str());
            return 1;
        }
    } catch (const qa::RuntimeError& error) {
        std::fprintf(stderr, "quenvar-regsvr: cannot %s %s: %s\n", unregister ? "unregister" : "register",
                     modulePath.c_str(), error.description().c_str());
        return 1;
    }

    std::string classes;
    if (!unregister) {
        try {
            for (const qa::ClassRecord& record : qa::ClassRegistry::standard().records()) {
                if (record.modulePath == absolute(modulePath)) classes += (classes.empty() ? "" : ", ") + record.progId;
            }
        } catch (const qa::RuntimeError& error) {
            // The registration itself succeeded; an unrelated unreadable record only costs the list.
            std::fprintf(stderr, "quenvar-regsvr: note: %s\n", error.description().c_str());
        }
    }
    std::printf("quenvar-regsvr: %s %s%s%s %s the class registry %s\n", unregister ? "unregistered" : "registered",
                classes.c_str(), classes.empty() ? "" : " from ", absolute(modulePath).c_str(),
                unregister ? "from" : "in", folder.c_str());
    return 0;
}
