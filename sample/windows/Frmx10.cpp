#include "sample/windows/Frmx10.h"

#include <commctrl.h>

#include "sample/DimPercentage.h"
#include "sample/MemberIds.h"
#include "sample/ProgramTexts.h"
#include "sample/windows/ControlIds.h"
#include "sample/windows/ControlSite.h"
#include "sample/windows/HandlerEdge.h"
#include "sample/windows/SampleApp.h"

namespace quenvar::sample::windows {

namespace {

constexpr COLORREF lightGrey = RGB(192, 192, 192);
constexpr int sliderMaximum = 20;  // 0 to 100 per cent in steps of 5
constexpr int sliderPageSize = 5;
// A closed drop-down combo box is as high as its font makes it, as in the classic designer; the
// height given is that of the open box, room for the sixteen items.
constexpr int droppedHeight = 420 + 16 * 16 * twipsPerPixel;

HMENU controllerMenu() {
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, control_id::mnucomport, L"Comport");
    AppendMenuW(file, MF_STRING, control_id::mnuexit, L"Exit");
    HMENU bar = CreateMenu();
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"File");
    return bar;
}

void fillComboBox(HWND comboBox, const wchar_t* const (&items)[16]) {
    for (const wchar_t* item : items) SendMessageW(comboBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    // Both boxes start empty: nothing is preselected.
    SendMessageW(comboBox, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

constexpr const wchar_t* houseItems[16] = {L"A", L"B", L"C", L"D", L"E", L"F", L"G", L"H",
                                           L"I", L"J", L"K", L"L", L"M", L"N", L"O", L"P"};
constexpr const wchar_t* unitItems[16] = {L"01", L"02", L"03", L"04", L"05", L"06", L"07", L"08",
                                          L"09", L"10", L"11", L"12", L"13", L"14", L"15", L"16"};

}  // namespace

Frmx10::Frmx10(SampleApp& forms) : forms_(forms) {
    create(L"X10 Controller", {0, 0, 5145, 3420}, controllerMenu(), font_);
    setWindowBackground(lightGrey);
    setChildBackground(lightGrey);
    addControls();
    quenvar1_ = std::make_unique<ControlSite>(handle(), control_id::quenvar1, Twips{1920, 2400, 975, 855},
                                              fromCodePage(controlProgId).c_str());
}

Frmx10::~Frmx10() = default;

void Frmx10::addControls() {
    constexpr DWORD label = SS_LEFT;
    constexpr DWORD button = BS_PUSHBUTTON | WS_TABSTOP;
    constexpr DWORD comboBox = CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP;
    // In tab order.
    const ChildWindow children[] = {
        {L"STATIC", control_id::Label2, L"Housecode", {240, 240, 1335, 375}, label, &font_},
        {L"STATIC", control_id::Label3, L"UnitCode", {2640, 240, 1215, 375}, label, &font_},
        {L"BUTTON", control_id::Command1, L"On", {240, 840, 975, 495}, button, &font_},
        {L"BUTTON", control_id::Command2, L"Off", {1440, 840, 975, 495}, button, &font_},
        {L"BUTTON", control_id::Command3, L"All On", {2640, 840, 975, 495}, button, &font_},
        {L"BUTTON", control_id::Command4, L"All Off", {3840, 840, 975, 495}, button, &font_},
        {L"BUTTON", control_id::Command5, L"Dim", {360, 1920, 975, 495}, button, &font_},
        {L"BUTTON", control_id::Command6, L"Bright", {3840, 1920, 975, 495}, button, &font_},
        {L"STATIC", control_id::Label4, L"Dim Value", {1680, 1560, 1095, 255}, label, &smallFont_},
        {L"STATIC", control_id::Label5, L"100%", {2880, 1560, 495, 255}, label, &smallFont_},
        {TRACKBAR_CLASSW,
         control_id::Slider1,
         L"",
         {1440, 2040, 2295, 255},
         TBS_HORZ | TBS_BOTTOM | TBS_AUTOTICKS | WS_TABSTOP,
         nullptr},
        {WC_COMBOBOXW, control_id::cbhouse, L"", {1680, 240, 735, droppedHeight}, comboBox, &font_},
        {WC_COMBOBOXW, control_id::CBunit, L"", {3960, 240, 735, droppedHeight}, comboBox, &font_},
    };
    for (const ChildWindow& child : children) addChild(child);

    HWND slider = child(control_id::Slider1);
    SendMessageW(slider, TBM_SETRANGE, FALSE, MAKELPARAM(0, sliderMaximum));
    SendMessageW(slider, TBM_SETLINESIZE, 0, 1);
    SendMessageW(slider, TBM_SETPAGESIZE, 0, sliderPageSize);
    SendMessageW(slider, TBM_SETTICFREQ, 1, 0);
    SendMessageW(slider, TBM_SETPOS, TRUE, 0);
    sliderValue_ = 0;

    fillComboBox(child(control_id::cbhouse), houseItems);
    fillComboBox(child(control_id::CBunit), unitItems);
}

void Frmx10::onUnitCommand(automation::MemberId command) {
    runHandler(handle(), [&] {
        CallArgument arguments[] = {CallArgument::text(windowText(child(control_id::cbhouse))),
                                    CallArgument::text(windowText(child(control_id::CBunit)))};
        quenvar1_->call(command, arguments);
    });
}

void Frmx10::onHouseCommand(automation::MemberId command) {
    runHandler(handle(), [&] {
        CallArgument house[] = {CallArgument::text(windowText(child(control_id::cbhouse)))};
        quenvar1_->call(command, house);
    });
}

void Frmx10::onDimCommand(automation::MemberId command) {
    runHandler(handle(), [&] {
        const auto value = static_cast<int>(SendMessageW(child(control_id::Slider1), TBM_GETPOS, 0, 0));
        const std::int16_t dimvalue = dimValueArgument(value);
        CallArgument arguments[] = {CallArgument::text(windowText(child(control_id::cbhouse))),
                                    CallArgument::text(windowText(child(control_id::CBunit))),
                                    CallArgument::int16(dimvalue)};
        quenvar1_->call(command, arguments);
    });
}

void Frmx10::onSliderMoved() {
    const auto value = static_cast<int>(SendMessageW(child(control_id::Slider1), TBM_GETPOS, 0, 0));
    // The label follows changes of the value only: until the slider first changes it keeps
    // its stored "100%".
    if (value == sliderValue_) return;
    sliderValue_ = value;
    runHandler(handle(),
               [&] { SetWindowTextW(child(control_id::Label5), fromCodePage(dimPercentageCaption(value)).c_str()); });
}

void Frmx10::onExit() {
    runHandler(handle(), [this] {
        quenvar1_->call(member::closex10);
        forms_.unloadFrmx10();
    });
}

bool Frmx10::onCommand(int id, int notification) {
    if (notification != BN_CLICKED) return false;  // menu entries come with 0 too
    switch (id) {
        case control_id::Command1: onUnitCommand(member::x10on); return true;
        case control_id::Command2: onUnitCommand(member::x10off); return true;
        case control_id::Command3: onHouseCommand(member::lightson); return true;
        case control_id::Command4: onHouseCommand(member::alloff); return true;
        case control_id::Command5: onDimCommand(member::x10dim); return true;
        case control_id::Command6: onDimCommand(member::x10brighten); return true;
        case control_id::mnucomport: runHandler(handle(), [this] { forms_.showFrmcom(); }); return true;
        case control_id::mnuexit: onExit(); return true;
        default: return false;
    }
}

LRESULT Frmx10::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (onCommand(LOWORD(wParam), HIWORD(wParam))) return 0;
            break;
        case WM_HSCROLL:
            if (reinterpret_cast<HWND>(lParam) == child(control_id::Slider1)) {
                onSliderMoved();
                return 0;
            }
            break;
        case WM_CLOSE:
            // The close box unloads the window without closing the port.
            forms_.unloadFrmx10();
            return 0;
        default: break;
    }
    return FormWindow::onMessage(message, wParam, lParam);
}

}  // namespace quenvar::sample::windows
