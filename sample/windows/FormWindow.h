#pragma once
// A top-level window of the program laid out like a form of the classic designer: children at
// fixed positions given in twips (15 twips a pixel), created in tab order, text in "MS Sans
// Serif" where the system has it.
//
// A form is created hidden. Its children are created in the order they are added, which is
// the order Tab walks through them (IsDialogMessage in the program's message loop).

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quenvar::sample::windows {

inline constexpr int twipsPerPixel = 15;

struct Twips {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

RECT toPixels(const Twips& twips);

// A font of the classic face "MS Sans Serif" at `points` (whole or fractional, as 9.75); where
// the face is missing the system's sans-serif face stands in, not whatever face comes first.
class FormFont {
public:
    explicit FormFont(double points);
    ~FormFont();
    FormFont(const FormFont&) = delete;
    FormFont& operator=(const FormFont&) = delete;
    HFONT handle() const { return font_; }

private:
    HFONT font_;
};

struct ChildWindow {
    const wchar_t* windowClass;
    int id;
    const wchar_t* text;
    Twips place;
    DWORD style;  // besides WS_CHILD | WS_VISIBLE
    const FormFont* font;
};

class FormWindow {
public:
    virtual ~FormWindow();
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    HWND handle() const { return window_; }
    bool isVisible() const { return window_ && IsWindowVisible(window_); }
    // Shows the window modeless and brings it to the front; a window already on screen stays as it is.
    void bringToFront();
    // Destroys the window and its children; the object stays until its owner lets it go.
    void destroy();

protected:
    FormWindow() = default;
    // Creates the hidden window with a client area of `client`.
    void create(const wchar_t* caption, const Twips& client, HMENU menu, const FormFont& font);
    HWND addChild(const ChildWindow& child);
    HWND child(int id) const { return GetDlgItem(window_, id); }
    // The background of the window, and of the children that draw their own (labels, option
    // buttons, the slider); the system's face colour for each until set.
    void setWindowBackground(COLORREF colour);
    void setChildBackground(COLORREF colour);

    // The form's own messages; what it does not handle goes to the default.
    virtual LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT childColours(HDC dc);

    HWND window_ = nullptr;
    HBRUSH windowBackground_ = nullptr;
    HBRUSH childBackground_ = nullptr;
    COLORREF childBackgroundColour_ = 0;
};

// The window's text (the current text of a combo box's edit field, for instance).
std::wstring windowText(HWND window);

}  // namespace quenvar::sample::windows
