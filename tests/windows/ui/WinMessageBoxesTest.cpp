// The control's message boxes on Windows, read and closed by a user thread: the texts as the
// system's code page gives them, OK only, no icon, owned by the host's window and modal to it,
// and the serial line's notifications still delivered while a box is open.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial/windows/WinSerialComponent.h"
#include "platform/ui/windows/WinMessageBoxes.h"
#include "tests/windows/support/MessageBoxUser.h"

namespace quenvar::ui {
namespace {

using quenvar::testing::MessageBoxUser;

// A host's top-level window, owner of the boxes.
class HostWindow {
public:
    HostWindow()
        : window_(CreateWindowExW(0, L"STATIC", L"X10 Controller", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr)) {}
    ~HostWindow() { DestroyWindow(window_); }
    HWND handle() const { return window_; }

private:
    HWND window_;
};

TEST(WinMessageBoxesTest, ShowsPromptAndTitleWithOkOnlyAndNoIconModalToTheOwner) {
    // The runtime's texts are in the system's single-byte code page; these expectations are
    // those of the Western European page that a fresh Wine prefix uses.
    ASSERT_EQ(GetACP(), 1252u);
    // The host's window owns the box: set as its owner, or active when none was set. An owner
    // that has been destroyed leaves the box to the thread.
    enum class Owner { Set, Active, Gone };
    struct Case {
        const char* prompt;
        const char* title;
        const wchar_t* shownPrompt;
        const wchar_t* shownTitle;
        Owner owner;
    };
    const Case cases[] = {
        {"Port must be open before you can call a command", "Error", L"Port must be open before you can call a command",
         L"Error", Owner::Set},
        {"Interface is not responding", "quenvar", L"Interface is not responding", L"quenvar", Owner::Active},
        {"Caf\xE9 \x80 5\xB0", "\xC4rger", L"Caf\u00E9 \u20AC 5\u00B0", L"\u00C4rger", Owner::Set},
        {"Please choose a RS232 port", "Error", L"Please choose a RS232 port", L"Error", Owner::Gone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prompt);
        auto host = std::make_unique<HostWindow>();
        const HWND owner = host->handle();
        WinMessageBoxes boxes;
        if (c.owner == Owner::Active) {
            ShowWindow(owner, SW_SHOW);
            SetActiveWindow(owner);
        } else {
            boxes.setOwner(owner);
        }
        if (c.owner == Owner::Gone) host.reset();
        MessageBoxUser user;
        boxes.showMessage(c.prompt, c.title);
        const MessageBoxUser::Box& box = user.box();
        ASSERT_TRUE(box.found);
        EXPECT_EQ(box.caption, c.shownTitle);
        EXPECT_EQ(box.texts, std::vector<std::wstring>{c.shownPrompt});
        EXPECT_EQ(box.buttons, std::vector<int>{IDOK});
        EXPECT_FALSE(box.iconShown);
        EXPECT_EQ(box.owner, c.owner == Owner::Gone ? nullptr : owner);
        if (c.owner != Owner::Gone) {
            EXPECT_FALSE(box.ownerEnabled) << "the owner takes no input while its box is open";
            EXPECT_TRUE(IsWindowEnabled(owner)) << "and takes it again once the box is closed";
        }
    }
}

TEST(WinMessageBoxesTest, SerialNotificationsKeepArrivingWhileABoxIsOpen) {
    serial::WinSerialComponent port;
    std::string received;
    std::atomic<int> receivedWhileOpen{0};
    bool boxOpen = false;
    // The control's handshake in small: the echo is acknowledged, the ready byte ends it.
    port.setOnComm([&] {
        received += port.input();
        receivedWhileOpen += boxOpen ? 1 : 0;
        if (received == "\x6A") port.setOutput(std::string(1, '\0'));
    });
    port.setPortOpen(true);

    HostWindow host;
    WinMessageBoxes boxes;
    boxes.setOwner(host.handle());
    MessageBoxUser user([&] { return receivedWhileOpen == 2; });
    port.setOutput("\x04\x66");
    boxOpen = true;
    boxes.showMessage("Interface is not responding", "quenvar");
    boxOpen = false;

    ASSERT_TRUE(user.box().found);
    EXPECT_TRUE(user.box().closedByTheTest) << "only " << receivedWhileOpen << " bytes came while it was open";
    EXPECT_EQ(received, "\x6A\x55");
}

}  // namespace
}  // namespace quenvar::ui
