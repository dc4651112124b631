// quenvarsample for Windows: the port selection window and the "X10 Controller" window, which
// hosts the quenvar control by its ProgID.

#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "sample/ProgramTexts.h"
#include "sample/windows/HandlerEdge.h"
#include "sample/windows/SampleApp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    using namespace quenvar::sample::windows;
    // The control is activated in place in its host window, which needs OLE, not only COM.
    if (FAILED(OleInitialize(nullptr))) {
        showModalBox(nullptr, L"The system's OLE libraries cannot be initialised.",
                     fromCodePage(quenvar::sample::programTitle), MB_ICONERROR);
        return 1;
    }
    const INITCOMMONCONTROLSEX commonControls{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&commonControls);
    int exitCode = 0;
    {
        SampleApp forms;
        runHandler(nullptr, [&] { forms.start(); });
        exitCode = forms.run();
    }
    OleUninitialize();
    return exitCode;
}
