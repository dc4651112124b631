#include "sim/LampView.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace x10sim {

LampView::LampView(char house, int unit, QWidget* parent)
    : QWidget(parent), name_(QStringLiteral("%1%2").arg(QChar::fromLatin1(house)).arg(unit)) {
    setObjectName(QStringLiteral("lamp") + name_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    updateToolTip();
}

void LampView::setState(const ModuleState& state) {
    if (state == state_) return;
    state_ = state;
    updateToolTip();
    update();
}

QSize LampView::sizeHint() const { return {34, 34}; }

QSize LampView::minimumSizeHint() const { return {22, 22}; }

QColor LampView::lampColor(const ModuleState& state) {
    if (!state.on) return QColor(64, 64, 64);
    // Even at level 0 a module that is on glows faintly, so it never looks like one that is off.
    const double fraction = std::clamp(state.level, 0, fullBrightnessSteps) / double(fullBrightnessSteps);
    const auto mix = [fraction](int dim, int bright) { return int(dim + (bright - dim) * fraction + 0.5); };
    return QColor(mix(110, 255), mix(88, 224), mix(0, 32));
}

void LampView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int diameter = std::max(4, std::min(width(), height()) - 6);
    const QRectF disc((width() - diameter) / 2.0, (height() - diameter) / 2.0, diameter, diameter);
    const QColor fill = lampColor(state_);
    painter.setPen(QPen(fill.darker(170), 1.5));
    painter.setBrush(fill);
    painter.drawEllipse(disc);

    if (!state_.on) return;
    QFont small = font();
    small.setPixelSize(std::max(7, diameter / 3));
    painter.setFont(small);
    painter.setPen(fill.lightness() > 110 ? QColor(40, 32, 0) : QColor(250, 240, 200));
    painter.drawText(disc, Qt::AlignCenter, QString::number(state_.percent()));
}

void LampView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
    QWidget::mouseReleaseEvent(event);
}

void LampView::updateToolTip() {
    setToolTip(state_.on ? QStringLiteral("%1: on, %2%").arg(name_).arg(state_.percent())
                         : QStringLiteral("%1: off").arg(name_));
}

}  // namespace x10sim
