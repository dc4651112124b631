#include "platform/ui/EmbeddableControl.h"

namespace quenvar::ui {

// Defined here so that the class's type identity lives in this library alone.
EmbeddableControl::~EmbeddableControl() = default;

}  // namespace quenvar::ui
