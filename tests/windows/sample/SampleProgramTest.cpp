// The Windows quenvarsample as a person meets it, driven from this separate process under
// Wine: the control registered from the module beside this program, x10sim behind COM1.

#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ProgramDriver.h"
#include "WireLog.h"
#include "sample/windows/ControlIds.h"
#include "tests/windows/support/ControlModule.h"

using namespace sample_driver;
namespace id = quenvar::sample::windows::control_id;

namespace {

constexpr const wchar_t* portWindow = L"Communitcation Port";
constexpr const wchar_t* controllerWindow = L"X10 Controller";

// The control module of this build, registered once for the whole run.
void registerControl() {
    CoInitialize(nullptr);
    ASSERT_EQ(windows_tests::registerControlModule(), S_OK) << "quenvar.ocx beside the test program";
}

// A control's place in its window's client area, in pixels.
RECT placeIn(HWND window, HWND control) {
    RECT place;
    GetWindowRect(control, &place);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&place), 2);
    return place;
}

}  // namespace

class SampleProgramTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { registerControl(); }

    // Start-up, "CommPort 1" and "OK": the controller window on the simulator's port.
    HWND openController() {
        HWND frmcom = program.waitForWindow(portWindow);
        if (!frmcom) return nullptr;
        program.press(program.control(frmcom, id::FrmcomCommand1));
        return program.waitForWindow(controllerWindow);
    }

    void enter(HWND frmx10, const wchar_t* house, const wchar_t* unit, int slider = 0) {
        program.typeInto(program.control(frmx10, id::cbhouse), house);
        program.typeInto(program.control(frmx10, id::CBunit), unit);
        program.moveSlider(program.control(frmx10, id::Slider1), slider);
    }

    WireLog wire;
    ProgramDriver program;
};

TEST_F(SampleProgramTest, WindowsHaveTheirLayout) {
    struct Place {
        int id;
        RECT pixels;  // the designed twips divided by 15
    };
    const Place portPlaces[] = {
        {id::Optcom1, {96, 16, 217, 41}},          {id::Optcom1 + 1, {96, 56, 217, 81}},
        {id::Optcom1 + 2, {96, 96, 217, 121}},     {id::Optcom1 + 3, {96, 136, 217, 161}},
        {id::FrmcomCommand1, {64, 176, 129, 209}}, {id::FrmcomCommand2, {184, 176, 249, 209}},
    };
    const Place controllerPlaces[] = {
        {id::Label2, {16, 16, 105, 41}},
        {id::Label3, {176, 16, 257, 41}},
        {id::Command1, {16, 56, 81, 89}},
        {id::Command2, {96, 56, 161, 89}},
        {id::Command3, {176, 56, 241, 89}},
        {id::Command4, {256, 56, 321, 89}},
        {id::Command5, {24, 128, 89, 161}},
        {id::Command6, {256, 128, 321, 161}},
        {id::Label4, {112, 104, 185, 121}},
        {id::Label5, {192, 104, 225, 121}},
        {id::Slider1, {96, 136, 249, 153}},
        {id::quenvar1, {128, 160, 193, 217}},
        // A closed combo box is as high as its font makes it: only the top and the width are placed.
        {id::cbhouse, {112, 16, 161, 0}},
        {id::CBunit, {264, 16, 313, 0}},
    };
    HWND frmcom = program.waitForWindow(portWindow);
    ASSERT_NE(frmcom, nullptr);
    RECT client;
    GetClientRect(frmcom, &client);
    EXPECT_EQ(client.right, 312);
    EXPECT_EQ(client.bottom, 215);
    for (const Place& place : portPlaces) {
        const RECT actual = placeIn(frmcom, program.control(frmcom, place.id));
        EXPECT_TRUE(EqualRect(&actual, &place.pixels)) << "control " << place.id << " at " << actual.left << ","
                                                       << actual.top << "-" << actual.right << "," << actual.bottom;
    }
    HWND frmx10 = openController();
    ASSERT_NE(frmx10, nullptr);
    GetClientRect(frmx10, &client);
    EXPECT_EQ(client.right, 343);
    EXPECT_EQ(client.bottom, 228);
    for (const Place& place : controllerPlaces) {
        RECT actual = placeIn(frmx10, program.control(frmx10, place.id));
        if (place.pixels.bottom == 0) actual.bottom = 0;
        EXPECT_TRUE(EqualRect(&actual, &place.pixels)) << "control " << place.id << " at " << actual.left << ","
                                                       << actual.top << "-" << actual.right << "," << actual.bottom;
    }
}

TEST_F(SampleProgramTest, TabWalksTheControlsInTheirOrder) {
    // The option buttons are one stop (the arrow keys move within them); labels take no focus.
    const std::vector<int> portStops = {id::Optcom1, id::FrmcomCommand1, id::FrmcomCommand2};
    const std::vector<int> controllerStops = {id::Command1, id::Command2, id::Command3, id::Command4, id::Command5,
                                              id::Command6, id::Slider1,  id::cbhouse,  id::CBunit,   id::quenvar1};
    // Tab from the first stop goes once around and back to it.
    const auto expectWalk = [](HWND window, std::vector<int> stops) {
        stops.push_back(stops.front());
        std::vector<int> walked;
        HWND stop = GetDlgItem(window, stops.front());
        for (std::size_t i = 0; i < stops.size() && stop; ++i, stop = GetNextDlgTabItem(window, stop, FALSE)) {
            walked.push_back(GetDlgCtrlID(stop));
        }
        EXPECT_EQ(walked, stops);
    };
    HWND frmcom = program.waitForWindow(portWindow);
    ASSERT_NE(frmcom, nullptr);
    expectWalk(frmcom, portStops);
    HWND frmx10 = openController();
    ASSERT_NE(frmx10, nullptr);
    expectWalk(frmx10, controllerStops);
}

TEST_F(SampleProgramTest, PortWindowComesFirstWithFirstPort) {
    HWND frmcom = program.waitForWindow(portWindow);
    ASSERT_NE(frmcom, nullptr);
    EXPECT_EQ(program.findWindow(controllerWindow), nullptr);
    for (int index = 0; index < 4; ++index) {
        EXPECT_EQ(IsDlgButtonChecked(frmcom, id::Optcom1 + index), index == 0 ? BST_CHECKED : BST_UNCHECKED);
        EXPECT_EQ(textOf(program.control(frmcom, id::Optcom1 + index)), L"CommPort " + std::to_wstring(index + 1));
    }
}

struct CommandCase {
    const char* name;
    const wchar_t* house;
    const wchar_t* unit;
    int slider;
    int button;
    std::vector<std::uint8_t> bytes;  // from the computer; empty: not compared
    std::vector<std::string> frames;
};

TEST_F(SampleProgramTest, ButtonsSendTheirCommands) {
    const CommandCase cases[] = {
        {"On A 01", L"A", L"01", 0, id::Command1, {0x04, 0x66, 0x00, 0x06, 0x62, 0x00}, {"A1 address", "A On"}},
        {"Off A 01", L"A", L"01", 0, id::Command2, {0x04, 0x66, 0x00, 0x06, 0x63, 0x00}, {"A1 address", "A Off"}},
        {"All On B", L"B", L"", 0, id::Command3, {0x06, 0xE1, 0x00}, {"B All Lights On"}},
        {"All Off A", L"A", L"", 0, id::Command4, {0x06, 0x60, 0x00}, {"A All Units Off"}},
        {"Dim A 01 at 50%", L"A", L"01", 10, id::Command5, {}, {"A1 address", "A Dim 11 steps"}},
        {"Bright P 16 at 15%", L"P", L"16", 3, id::Command6, {}, {"P16 address", "P Bright 2 steps"}},
        // Typed texts pass exactly as typed; the control accepts these.
        {"On c 7", L"c", L"7", 0, id::Command1, {}, {"C7 address", "C On"}},
    };
    HWND frmx10 = openController();
    ASSERT_NE(frmx10, nullptr);
    for (const CommandCase& command : cases) {
        SCOPED_TRACE(command.name);
        enter(frmx10, command.house, command.unit, command.slider);
        wire.mark();
        program.press(program.control(frmx10, command.button));
        EXPECT_EQ(wire.waitForFrames(command.frames.size()), command.frames);
        if (!command.bytes.empty()) {
            EXPECT_EQ(wire.waitForBytes(command.bytes.size()), command.bytes);
        }
        EXPECT_TRUE(program.closeBoxesUntilIdle().empty());
    }
}

struct CheckCase {
    const char* name;
    const wchar_t* house;
    const wchar_t* unit;
    int slider;
    int button;
    const wchar_t* title;
    const wchar_t* text;
};

TEST_F(SampleProgramTest, RefusedCommandsReportOneBoxAndSendNothing) {
    const wchar_t* badHouse = L"The housecode must be between A and P";
    const wchar_t* badUnit = L"The Unitcode must be between 1 and 16";
    const wchar_t* badDim = L"Dim value must between 5 and 95";
    const wchar_t* typeMismatch = L"Run-time error '13':\n\nType mismatch";
    const CheckCase cases[] = {
        {"empty boxes", L"", L"", 10, id::Command1, L"Error", badHouse},
        {"house Q", L"Q", L"01", 10, id::Command3, L"Error", badHouse},
        {"house checked before unit", L"Z", L"99", 0, id::Command5, L"Error", badHouse},
        {"unit 17", L"A", L"17", 10, id::Command2, L"Error", badUnit},
        {"unit checked before dim", L"A", L"0", 0, id::Command6, L"Error", badUnit},
        {"dim 0%", L"A", L"01", 0, id::Command5, L"Error", badDim},
        {"dim 100%", L"A", L"01", 20, id::Command6, L"Error", badDim},
        {"empty unit", L"A", L"", 10, id::Command1, L"quenvarsample", typeMismatch},
        {"empty unit, Dim", L"A", L"", 10, id::Command5, L"quenvarsample", typeMismatch},
    };
    HWND frmx10 = openController();
    ASSERT_NE(frmx10, nullptr);
    for (const CheckCase& check : cases) {
        SCOPED_TRACE(check.name);
        enter(frmx10, check.house, check.unit, check.slider);
        wire.mark();
        program.press(program.control(frmx10, check.button));
        const std::vector<MessageBoxSeen> boxes = program.closeBoxesUntilIdle();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].title, check.title);
        EXPECT_EQ(boxes[0].text, check.text);
        EXPECT_EQ(boxes[0].buttons, 1);
        EXPECT_TRUE(wire.bytes().empty());
    }
}

TEST_F(SampleProgramTest, SliderWritesThePercentageLabel) {
    HWND frmx10 = openController();
    ASSERT_NE(frmx10, nullptr);
    HWND label = program.control(frmx10, id::Label5);
    EXPECT_EQ(textOf(label), L"100%");
    const struct {
        int value;
        const wchar_t* caption;
    } steps[] = {{3, L"15%"}, {20, L"100%"}, {0, L"0%"}, {7, L"35%"}};
    for (const auto& step : steps) {
        program.moveSlider(program.control(frmx10, id::Slider1), step.value);
        EXPECT_EQ(textOf(label), step.caption);
    }
}

TEST_F(SampleProgramTest, NoPortSelectedAsksForOne) {
    HWND frmcom = program.waitForWindow(portWindow);
    ASSERT_NE(frmcom, nullptr);
    SendMessageW(program.control(frmcom, id::Optcom1), BM_SETCHECK, BST_UNCHECKED, 0);
    program.press(program.control(frmcom, id::FrmcomCommand1));
    const std::vector<MessageBoxSeen> boxes = program.closeBoxesUntilIdle();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, L"Error");
    EXPECT_EQ(boxes[0].text, L"Please choose a RS232 port");
    EXPECT_EQ(boxes[0].buttons, 1);
    EXPECT_TRUE(IsWindowVisible(frmcom));
    EXPECT_EQ(program.findWindow(controllerWindow), nullptr);
}

TEST_F(SampleProgramTest, ComportThenOkAgainKeepsTheOpenPort) {
    HWND frmx10 = openController();
    ASSERT_NE(frmx10, nullptr);
    program.chooseMenuEntry(frmx10, 0);  // File > Comport
    HWND frmcom = program.waitForWindow(portWindow);
    ASSERT_NE(frmcom, nullptr);
    EXPECT_EQ(IsDlgButtonChecked(frmcom, id::Optcom1), BST_CHECKED);
    // openx10 again on the same control and port without closing first: the serial component
    // keeps the port that is open, so nothing is reported and the port window goes.
    program.press(program.control(frmcom, id::FrmcomCommand1));
    EXPECT_TRUE(program.closeBoxesUntilIdle().empty());
    EXPECT_TRUE(waitFor([&] { return !IsWindow(frmcom); }));
    EXPECT_TRUE(IsWindowVisible(frmx10));
    enter(frmx10, L"A", L"01");
    wire.mark();
    program.press(program.control(frmx10, id::Command1));
    EXPECT_EQ(wire.waitForFrames(2), (std::vector<std::string>{"A1 address", "A On"}));
}

TEST_F(SampleProgramTest, OkOnAPortThatFailsKeepsThePortWindowAndCancelLeavesTheController) {
    HWND frmx10 = openController();
    ASSERT_NE(frmx10, nullptr);
    program.chooseMenuEntry(frmx10, 0);
    HWND frmcom = program.waitForWindow(portWindow);
    ASSERT_NE(frmcom, nullptr);
    // COM2 leads to no device in the tests' prefix: openx10 fails and its error ends "OK".
    program.press(program.control(frmcom, id::Optcom1 + 1));
    ASSERT_TRUE(waitFor([&] { return IsDlgButtonChecked(frmcom, id::Optcom1 + 1) == BST_CHECKED; }));
    program.press(program.control(frmcom, id::FrmcomCommand1));
    const std::vector<MessageBoxSeen> boxes = program.closeBoxesUntilIdle();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, L"quenvarsample");
    EXPECT_EQ(boxes[0].text.rfind(L"Run-time error '", 0), 0u);
    EXPECT_TRUE(IsWindowVisible(frmcom));
    program.press(program.control(frmcom, id::FrmcomCommand2));
    ASSERT_TRUE(waitFor([&] { return !IsWindow(frmcom); }));
    EXPECT_TRUE(IsWindowVisible(frmx10));
    // Exit while only the controller is left ends the program.
    program.chooseMenuEntry(frmx10, 1);
    EXPECT_EQ(program.waitForExit(), std::optional<DWORD>(0));
}

TEST_F(SampleProgramTest, ExitClosesThePortAndEndsTheProgram) {
    HWND frmx10 = openController();
    ASSERT_NE(frmx10, nullptr);
    program.chooseMenuEntry(frmx10, 1);  // File > Exit
    EXPECT_EQ(program.waitForExit(), std::optional<DWORD>(0));
}

TEST_F(SampleProgramTest, CancelOnTheOnlyWindowEndsTheProgram) {
    HWND frmcom = program.waitForWindow(portWindow);
    ASSERT_NE(frmcom, nullptr);
    program.press(program.control(frmcom, id::FrmcomCommand2));
    EXPECT_EQ(program.waitForExit(), std::optional<DWORD>(0));
}

TEST_F(SampleProgramTest, HiddenControllerWindowDoesNotKeepTheProgramAlive) {
    // COM4 leads to no device in the tests' prefix: "OK" loads the controller window, openx10 fails, the window stays
    // hidden.
    HWND frmcom = program.waitForWindow(portWindow);
    ASSERT_NE(frmcom, nullptr);
    program.press(program.control(frmcom, id::Optcom1 + 3));
    ASSERT_TRUE(waitFor([&] { return IsDlgButtonChecked(frmcom, id::Optcom1 + 3) == BST_CHECKED; }));
    program.press(program.control(frmcom, id::FrmcomCommand1));
    const std::vector<MessageBoxSeen> boxes = program.closeBoxesUntilIdle();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind(L"Run-time error '", 0), 0u)
        << std::string(boxes[0].text.begin(), boxes[0].text.end());
    EXPECT_EQ(program.findWindow(controllerWindow), nullptr);
    program.press(program.control(frmcom, id::FrmcomCommand2));
    EXPECT_EQ(program.waitForExit(), std::optional<DWORD>(0));
}

TEST(SampleProgramFile, VersionIsOnePointZeroZero) {
    const std::wstring path = windows_tests::besideThisProgram(L"quenvarsample.exe");
    DWORD handle = 0;
    std::vector<BYTE> data(GetFileVersionInfoSizeW(path.c_str(), &handle));
    ASSERT_FALSE(data.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
    for (const wchar_t* field : {L"FileVersion", L"ProductVersion"}) {
        wchar_t* value = nullptr;
        UINT length = 0;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + field;
        ASSERT_TRUE(VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &length));
        EXPECT_EQ(std::wstring(value), L"1.00");
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
}
