#pragma once
// Whether a window can be opened here, asked before a QApplication exists: Qt ends the whole
// process when its platform plugin finds no display, with several lines of plugin details that
// do not tell a person what to do.
//
// The answer follows what Qt would try: the platform named in QT_QPA_PLATFORM (its first entry),
// else an X display (DISPLAY) or a Wayland compositor (WAYLAND_DISPLAY). Platforms that need no
// display server (offscreen, minimal, vnc, linuxfb, eglfs, ...) are taken on trust.

#include <optional>
#include <string>

namespace x10sim {

// Nothing when a window can be shown; otherwise what is missing, as the end of a sentence that
// starts "no window can be opened: " (e.g. "DISPLAY is not set").
std::optional<std::string> displayUnavailableReason();

}  // namespace x10sim
