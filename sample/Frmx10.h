#pragma once
// The controller window ("X10 Controller"): house and unit boxes, six command buttons, the dim
// slider with its percentage label, and the control quenvar1 that does the checking and the
// sending. The window checks nothing itself: every button hands the boxes' texts (and the dim
// percentage) to the control, late bound by member id.

#include <QMainWindow>

#include <memory>
#include <string>

#include "platform/ui/ControlSite.h"

namespace Ui {
class Frmx10;
}

namespace quenvar::sample {

class SampleApp;

class Frmx10 : public QMainWindow {
    Q_OBJECT
public:
    // Loads the window (hidden) and creates its control by ProgID; raises
    // automation::RuntimeError when the control cannot be created.
    explicit Frmx10(SampleApp& forms);
    ~Frmx10() override;

    // The control instance; it lives exactly as long as the window.
    ui::ControlSite& quenvar1();

    // The client area below the menu bar, in pixels.
    static QSize clientSize() { return {343, 228}; }

protected:
    // The close box unloads the window without closing the port.
    void closeEvent(QCloseEvent* event) override;

private:
    void connectHandlers();

    // Texts as the control takes them: single-byte code page, exactly as typed.
    std::string houseText() const;
    std::string unitText() const;

    void onUnitCommand(automation::MemberId command);
    void onHouseCommand(automation::MemberId command);
    void onDimCommand(automation::MemberId command);
    void onSliderChanged(int value);
    void onComport();
    void onExit();

    std::unique_ptr<Ui::Frmx10> ui_;
    SampleApp& forms_;
};

}  // namespace quenvar::sample
