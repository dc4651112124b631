#pragma once
// The ids of the windows' controls and menu entries: how the windows find their children, and
// how a test or an accessibility tool finds them from outside.
//
// Ids start above IDOK and IDCANCEL (1 and 2), which keyboard navigation sends for Enter and
// Escape.

namespace quenvar::sample::windows::control_id {

// Port selection window "Communitcation Port".
inline constexpr int Optcom1 = 100;         // the option button with index i has id Optcom1 + i, i = 0..3
inline constexpr int FrmcomCommand1 = 110;  // "OK"
inline constexpr int FrmcomCommand2 = 111;  // "Cancel"

// Controller window "X10 Controller".
inline constexpr int Label2 = 202;
inline constexpr int Label3 = 203;
inline constexpr int Label4 = 204;
inline constexpr int Label5 = 205;
inline constexpr int Command1 = 211;  // "On"; Command2..Command6 follow
inline constexpr int Command2 = 212;
inline constexpr int Command3 = 213;
inline constexpr int Command4 = 214;
inline constexpr int Command5 = 215;
inline constexpr int Command6 = 216;
inline constexpr int Slider1 = 220;
inline constexpr int cbhouse = 230;
inline constexpr int CBunit = 231;
inline constexpr int quenvar1 = 240;
inline constexpr int mnucomport = 250;
inline constexpr int mnuexit = 251;

}  // namespace quenvar::sample::windows::control_id
