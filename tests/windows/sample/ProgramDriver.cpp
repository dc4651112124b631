#include "ProgramDriver.h"

#include <stdexcept>

namespace sample_driver {

namespace {

constexpr const wchar_t* dialogClass = L"#32770";

std::wstring programBesideThisOne() {
    std::wstring path(MAX_PATH, L'\0');
    path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"quenvarsample.exe";
}

std::wstring classOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

struct WindowSearch {
    DWORD processId;
    const wchar_t* caption;      // nullptr: any caption
    const wchar_t* windowClass;  // nullptr: any class
    bool visibleOnly;
    HWND found = nullptr;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM search) {
    auto& wanted = *reinterpret_cast<WindowSearch*>(search);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != wanted.processId || (wanted.visibleOnly && !IsWindowVisible(window))) return TRUE;
    if (wanted.caption && textOf(window) != wanted.caption) return TRUE;
    if (wanted.windowClass && classOf(window) != wanted.windowClass) return TRUE;
    wanted.found = window;
    return FALSE;
}

HWND childWith(HWND parent, const wchar_t* windowClass, bool withText) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (classOf(child) == windowClass && IsWindowVisible(child) && (!withText || !textOf(child).empty())) {
            return child;
        }
    }
    return nullptr;
}

}  // namespace

std::wstring textOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

ProgramDriver::ProgramDriver() {
    std::wstring commandLine = L"\"" + programBesideThisOne() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process_)) {
        throw std::runtime_error("quenvarsample.exe cannot be started");
    }
    WaitForInputIdle(process_.hProcess, waitLimitMs);
}

ProgramDriver::~ProgramDriver() {
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, waitLimitMs);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

HWND ProgramDriver::findWindow(const wchar_t* caption) const {
    WindowSearch search{process_.dwProcessId, caption, nullptr, true};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND ProgramDriver::waitForWindow(const wchar_t* caption) const {
    HWND window = nullptr;
    waitFor([&] { return (window = findWindow(caption)) != nullptr; });
    return window;
}

HWND ProgramDriver::control(HWND window, int id) const { return GetDlgItem(window, id); }

void ProgramDriver::focus(HWND window, HWND control) const {
    // Focus belongs to the program's input queue: share it for a moment, as a click would.
    const DWORD programThread = GetWindowThreadProcessId(window, nullptr);
    AttachThreadInput(GetCurrentThreadId(), programThread, TRUE);
    SetForegroundWindow(window);
    SetFocus(control);
    AttachThreadInput(GetCurrentThreadId(), programThread, FALSE);
}

void ProgramDriver::typeInto(HWND comboBox, const std::wstring& text) const {
    HWND edit = FindWindowExW(comboBox, nullptr, L"Edit", nullptr);
    focus(GetAncestor(comboBox, GA_ROOT), edit);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    SendMessageW(edit, WM_CHAR, VK_BACK, 1);
    for (wchar_t character : text) SendMessageW(edit, WM_CHAR, character, 1);
}

void ProgramDriver::press(HWND button) const {
    // A sent message, handled before anything posted later; it returns at once, so a handler
    // that opens a modal box does not hold the driver.
    SendNotifyMessageW(button, BM_CLICK, 0, 0);
}

void ProgramDriver::moveSlider(HWND slider, int value) const {
    focus(GetAncestor(slider, GA_ROOT), slider);
    SendMessageW(slider, WM_KEYDOWN, VK_HOME, 1);
    SendMessageW(slider, WM_KEYUP, VK_HOME, 1);
    for (int step = 0; step < value; ++step) {
        SendMessageW(slider, WM_KEYDOWN, VK_RIGHT, 1);
        SendMessageW(slider, WM_KEYUP, VK_RIGHT, 1);
    }
}

void ProgramDriver::sendKey(WORD key, bool up) const {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

void ProgramDriver::chooseMenuEntry(HWND window, int entry) const {
    // Another process's menus cannot be read or pressed; the keyboard reaches them.
    focus(window, window);
    waitFor([&] { return GetForegroundWindow() == window; });
    const WORD keys[] = {VK_MENU, VK_DOWN};
    for (WORD key : keys) {
        sendKey(key, false);
        sendKey(key, true);
    }
    for (int step = 0; step < entry; ++step) {
        sendKey(VK_DOWN, false);
        sendKey(VK_DOWN, true);
    }
    sendKey(VK_RETURN, false);
    sendKey(VK_RETURN, true);
}

HWND ProgramDriver::openBox() const {
    WindowSearch search{process_.dwProcessId, nullptr, dialogClass, false};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::optional<MessageBoxSeen> ProgramDriver::waitForBox() const {
    HWND box = nullptr;
    if (!waitFor([&] { return (box = openBox()) != nullptr && IsWindowVisible(box); })) return std::nullopt;
    MessageBoxSeen seen{textOf(box), {}, 0};
    if (HWND text = childWith(box, L"Static", true)) seen.text = textOf(text);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (classOf(child) == L"Button" && IsWindowVisible(child)) ++seen.buttons;
    }
    return seen;
}

bool ProgramDriver::closeBox() const {
    HWND box = openBox();
    if (!box) return false;
    SendNotifyMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    return waitFor([&] { return !IsWindow(box); });
}

bool ProgramDriver::idleWithoutBox() const {
    // A message sent to the program is handled once its thread is back in a message loop: the
    // main one when the handler is over, or the loop of a modal box the handler opened.
    WindowSearch search{process_.dwProcessId, nullptr, nullptr, true};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    DWORD_PTR result = 0;
    if (search.found && !SendMessageTimeoutW(search.found, WM_NULL, 0, 0, SMTO_NORMAL, waitLimitMs, &result)) {
        return false;
    }
    return openBox() == nullptr;
}

std::vector<MessageBoxSeen> ProgramDriver::closeBoxesUntilIdle() const {
    std::vector<MessageBoxSeen> seen;
    for (;;) {
        if (idleWithoutBox()) return seen;
        const std::optional<MessageBoxSeen> box = waitForBox();
        if (!box) return seen;
        seen.push_back(*box);
        if (!closeBox()) return seen;
    }
}

std::optional<DWORD> ProgramDriver::waitForExit() const {
    if (WaitForSingleObject(process_.hProcess, waitLimitMs) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

}  // namespace sample_driver
