#pragma once
// Message boxes that are recorded instead of shown; a test can act while a box is "open".

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/MessageBoxes.h"

namespace quenvar::testing {

struct ShownMessage {
    std::string prompt;
    std::string title;
    friend bool operator==(const ShownMessage&, const ShownMessage&) = default;
};

class RecordingMessageBoxes : public ui::MessageBoxes {
public:
    std::vector<ShownMessage> shown;
    // Runs while the box is open, before the user closes it.
    std::function<void()> whileOpen;

    void showMessage(const std::string& prompt, const std::string& title) override {
        shown.push_back({prompt, title});
        if (whileOpen) {
            auto action = std::move(whileOpen);
            whileOpen = nullptr;
            action();
        }
    }
};

}  // namespace quenvar::testing
