#include "control/QuenvarFace.h"

#include <QPixmap>

#include "control/QuenvarControl.h"
#include "control/QuenvarResources.h"

namespace quenvar::control {

QuenvarFace::QuenvarFace(QWidget* parent) : QWidget(parent), image1_(new QLabel(this)) {
    setObjectName(QStringLiteral("quenvar"));
    // The face paints the control's background itself instead of showing the host's through.
    setAutoFillBackground(true);
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setGeometry(QRect(QPoint(0, 0), image1Size));
    image1_->setPixmap(QPixmap(QString::fromLatin1(resource::image1)));
    image1_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

QSize QuenvarFace::sizeHint() const { return QuenvarControl::designedFaceSize; }

}  // namespace quenvar::control
