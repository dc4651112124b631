#include "sample/windows/Frmcom.h"

#include "sample/MemberIds.h"
#include "sample/ProgramTexts.h"
#include "sample/windows/ControlIds.h"
#include "sample/windows/ControlSite.h"
#include "sample/windows/Frmx10.h"
#include "sample/windows/HandlerEdge.h"
#include "sample/windows/SampleApp.h"

namespace quenvar::sample::windows {

namespace {
constexpr int portCount = 4;
constexpr COLORREF lightGrey = RGB(192, 192, 192);
}  // namespace

Frmcom::Frmcom(SampleApp& forms) : forms_(forms) {
    create(L"Communitcation Port", {0, 0, 4680, 3225}, nullptr, windowFont_);
    // The option buttons are light grey; the window keeps the system's colours.
    setChildBackground(lightGrey);
    const wchar_t* const captions[portCount] = {L"CommPort 1", L"CommPort 2", L"CommPort 3", L"CommPort 4"};
    for (int index = 0; index < portCount; ++index) {
        // One group: the first button starts it, the "OK" button ends it.
        const DWORD style = BS_AUTORADIOBUTTON | (index == 0 ? WS_GROUP | WS_TABSTOP : 0);
        addChild({L"BUTTON",
                  control_id::Optcom1 + index,
                  captions[index],
                  {1440, 240 + 600 * index, 1815, 375},
                  style,
                  &optionFont_});
    }
    addChild({L"BUTTON",
              control_id::FrmcomCommand1,
              L"OK",
              {960, 2640, 975, 495},
              BS_PUSHBUTTON | WS_GROUP | WS_TABSTOP,
              &windowFont_});
    addChild({L"BUTTON",
              control_id::FrmcomCommand2,
              L"Cancel",
              {2760, 2640, 975, 495},
              BS_PUSHBUTTON | WS_TABSTOP,
              &windowFont_});
    // Load: every fresh window starts at the first port, whatever was chosen before.
    CheckRadioButton(handle(), control_id::Optcom1, control_id::Optcom1 + portCount - 1, control_id::Optcom1);
}

std::int16_t Frmcom::selectedPort() const {
    std::int16_t port = 0;
    for (int index = 0; index < portCount; ++index) {
        if (IsDlgButtonChecked(handle(), control_id::Optcom1 + index) == BST_CHECKED) {
            port = static_cast<std::int16_t>(index + 1);
        }
    }
    return port;
}

void Frmcom::onOk() {
    HWND window = handle();
    runHandler(window, [this, window] {
        const std::int16_t selected = selectedPort();
        if (selected == 0) {
            showModalBox(window, fromCodePage(noPortPrompt), fromCodePage(noPortTitle), 0);
            return;
        }
        CallArgument port[] = {CallArgument::int16(selected)};
        // The port opens before this window goes and before the controller window shows; a
        // failure here leaves both windows as they were.
        forms_.frmx10().quenvar1().call(member::openx10, port);
        forms_.unloadFrmcom();
        forms_.showFrmx10();
    });
}

LRESULT Frmcom::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) != BN_CLICKED) break;
            if (LOWORD(wParam) == control_id::FrmcomCommand1) {
                onOk();
                return 0;
            }
            if (LOWORD(wParam) == control_id::FrmcomCommand2) {
                forms_.unloadFrmcom();
                return 0;
            }
            break;
        case WM_CLOSE:
            // The close box unloads the window, like "Cancel".
            forms_.unloadFrmcom();
            return 0;
        default: break;
    }
    return FormWindow::onMessage(message, wParam, lParam);
}

}  // namespace quenvar::sample::windows
