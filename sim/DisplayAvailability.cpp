#include "sim/DisplayAvailability.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <cstdlib>

namespace x10sim {

static std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// The plugin name of the first entry in QT_QPA_PLATFORM ("xcb:option;offscreen" -> "xcb").
static std::string requestedPlatform() {
    std::string platform = environment("QT_QPA_PLATFORM");
    platform = platform.substr(0, platform.find(';'));
    return platform.substr(0, platform.find(':'));
}

// Asks the X server itself, through the library Qt's own X platform uses, so that a DISPLAY
// pointing at a server that is gone or refuses us is caught too. Loaded at run time: a program
// started without a window must not need it.
static std::optional<std::string> xDisplayProblem() {
    const std::string display = environment("DISPLAY");
    if (display.empty()) return "DISPLAY is not set";

    void* library = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library) return "the X client library libxcb.so.1 (package libxcb1) is not installed";
    using Connect = void* (*)(const char*, int*);
    using HasError = int (*)(void*);
    using Disconnect = void (*)(void*);
    const auto connect = reinterpret_cast<Connect>(::dlsym(library, "xcb_connect"));
    const auto hasError = reinterpret_cast<HasError>(::dlsym(library, "xcb_connection_has_error"));
    const auto disconnect = reinterpret_cast<Disconnect>(::dlsym(library, "xcb_disconnect"));
    std::optional<std::string> problem;
    if (!connect || !hasError || !disconnect) {
        problem = "the X client library libxcb.so.1 is incomplete";
    } else {
        void* connection = connect(display.c_str(), nullptr);
        // xcb_connect never returns null: a failed connection is an object in an error state.
        if (hasError(connection) != 0) problem = "no X server accepts a connection at DISPLAY=" + display;
        disconnect(connection);
    }
    ::dlclose(library);
    return problem;
}

static bool waylandCompositorAnswers() {
    std::string socket = environment("WAYLAND_DISPLAY");
    if (socket.empty()) return false;
    if (socket.front() != '/') {
        const std::string runtimeDir = environment("XDG_RUNTIME_DIR");
        if (runtimeDir.empty()) return false;
        socket = runtimeDir + "/" + socket;
    }
    struct stat info {};
    return ::stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

std::optional<std::string> displayUnavailableReason() {
    const std::string platform = requestedPlatform();
    if (platform == "xcb") return xDisplayProblem();
    if (platform.rfind("wayland", 0) == 0) {
        if (waylandCompositorAnswers()) return std::nullopt;
        return "WAYLAND_DISPLAY does not name a running Wayland compositor";
    }
    if (!platform.empty()) return std::nullopt;
    if (waylandCompositorAnswers() && environment("DISPLAY").empty()) return std::nullopt;
    return xDisplayProblem();
}

}  // namespace x10sim
