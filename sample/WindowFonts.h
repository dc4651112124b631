#pragma once
// The windows name the classic "MS Sans Serif" face. Where that face is not installed the
// system's sans-serif face must stand in for it, not whatever face the font matcher happens
// to find first.

class QWidget;

namespace quenvar::sample {

inline constexpr const char* classicFaceName = "MS Sans Serif";

// Gives every widget under (and including) `root` whose font names the classic face a
// sans-serif fallback.
void preferSansSerifFallback(QWidget* root);

}  // namespace quenvar::sample
