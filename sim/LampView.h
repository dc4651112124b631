#pragma once
// One module of the virtual house drawn as a lamp: a dark grey disc while off, a yellow disc
// while on whose brightness follows the module's level, with the level in percent written on it
// and in its tooltip. A click on it is reported (clicked()), so it can act as a wall switch.

#include <QWidget>

#include "sim/HouseModel.h"

namespace x10sim {

class LampView : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool on READ isOn)
    Q_PROPERTY(int percent READ percent)
public:
    // house 'A'..'P', unit 1..16: only used for the object name ("lampA1") and the tooltip.
    LampView(char house, int unit, QWidget* parent = nullptr);

    void setState(const ModuleState& state);
    ModuleState state() const { return state_; }
    bool isOn() const { return state_.on; }
    // Brightness in percent of full while on; 0 while off.
    int percent() const { return state_.on ? state_.percent() : 0; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The colour of the disc for a module in this state.
    static QColor lampColor(const ModuleState& state);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void updateToolTip();

    QString name_;
    ModuleState state_;
};

}  // namespace x10sim
