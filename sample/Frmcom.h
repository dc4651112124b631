#pragma once
// The port selection window ("Communitcation Port"): the user picks one of four serial ports
// and "OK" opens it on the controller window's control, then brings up the controller window.

#include <QWidget>

#include <cstdint>

#include <memory>

namespace Ui {
class Frmcom;
}

namespace quenvar::sample {

class SampleApp;

class Frmcom : public QWidget {
    Q_OBJECT
public:
    // Loads the window (hidden) with "CommPort 1" selected.
    explicit Frmcom(SampleApp& forms);
    ~Frmcom() override;

    // The number of the selected port (1 to 4), 0 when none is selected.
    std::int16_t selectedPort() const;

protected:
    // The close box unloads the window, like "Cancel".
    void closeEvent(QCloseEvent* event) override;

private:
    void connectHandlers();
    void onOk();
    void onCancel();

    std::unique_ptr<Ui::Frmcom> ui_;
    SampleApp& forms_;
};

}  // namespace quenvar::sample
