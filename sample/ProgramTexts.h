#pragma once
// The program's names and its own texts, the same on every platform.

#include <cstdint>
#include <string>

namespace quenvar::sample {

inline constexpr const char* programTitle = "quenvarsample";
inline constexpr const char* programVersion = "1.00";
inline constexpr const char* controlProgId = "Zelvo.quenvar";

// The port selection window's one message, shown when "OK" finds no port selected.
inline constexpr const char* noPortPrompt = "Please choose a RS232 port";
inline constexpr const char* noPortTitle = "Error";

// The first line of the box that shows a run-time error ending a handler: "Run-time error 'N':".
// N is the error's number in decimal. Numbers of the automation layer are negative as 32-bit
// values (0x80020005 is -2147352571); those are shown as a host shows them, in decimal followed
// by the familiar hexadecimal form in parentheses: "Run-time error '-2147352571 (80020005)':".
// The box's text is this line, an empty line and the error's description.
std::string runtimeErrorHeading(std::int32_t number);

}  // namespace quenvar::sample
