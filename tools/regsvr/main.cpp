// quenvar-regsvr [-u] [--system] MODULE: registers (or with -u unregisters) the classes of an
// in-process server module by calling its DllRegisterServer (DllUnregisterServer), in the
// user's registry or with --system in the system-wide one.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/automation/ClassRegistry.h"
#include "platform/automation/ObjectCreation.h"
#include "platform/automation/RuntimeError.h"

namespace qa = quenvar::automation;

namespace {

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: quenvar-regsvr [-u] [--system] MODULE\n"
                 "  Registers the classes of MODULE in the class registry; -u removes them again.\n"
                 "  The registry folder is $QUENVAR_REGISTRY, else $XDG_DATA_HOME/quenvar/registry,\n"
                 "  else ~/.local/share/quenvar/registry.\n"
                 "  --system: the system-wide registry instead (%s), which programs read after\n"
                 "  their user's own, so that the classes work for every user; only root may change it.\n",
                 qa::ClassRegistry::systemFolder().c_str());
}

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
    bool systemWide = false;
    std::string modulePath;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-u" || argument == "/u") {
            unregister = true;
        } else if (argument == "--system") {
            systemWide = true;
        } else if (argument == "-h" || argument == "--help") {
            printUsage(stdout);
            return 0;
        } else if (modulePath.empty() && !argument.starts_with('-')) {
            modulePath = argument;
        } else {
            std::fprintf(stderr, "quenvar-regsvr: unexpected argument \"%s\"\n", argv[i]);
            printUsage(stderr);
            return 2;
        }
    }
    if (modulePath.empty()) {
        std::fprintf(stderr, "quenvar-regsvr: no module given\n");
        printUsage(stderr);
        return 2;
    }

    // The module registers itself in the registry the environment names.
    if (systemWide) setenv("QUENVAR_REGISTRY", qa::ClassRegistry::systemFolder().c_str(), 1);
    const std::string folder = qa::ClassRegistry::standardFolder().string();
    const std::string asRoot =
        systemWide && geteuid() != 0 ? " (only root may change the system-wide registry: run it with sudo)" : "";
    const char* entryName = unregister ? qa::entry_point_name::unregisterServer : qa::entry_point_name::registerServer;
    try {
        const qa::ServerModule module = qa::ServerModule::load(modulePath);
        const auto entry = reinterpret_cast<std::int32_t (*)()>(module.entryPoint(entryName));
        const std::int32_t status = entry();
        if (status != qa::server_status::Ok) {
            const std::string& detail = qa::lastServerError();
            std::fprintf(stderr, "quenvar-regsvr: %s of %s failed with status %s%s%s%s\n", entryName,
                         absolute(modulePath).c_str(), statusText(status).c_str(), detail.empty() ? "" : ": ",
                         detail.c_str(), asRoot.c_str());
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
