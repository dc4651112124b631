#pragma once
// The control's face: the picture Image1 at the top-left corner on the control's background.
// It handles no input; its size is the host's to choose.

#include <QLabel>
#include <QSize>
#include <QWidget>

namespace quenvar::control {

class QuenvarFace : public QWidget {
public:
    explicit QuenvarFace(QWidget* parent = nullptr);

    // 1020 x 870 twips at 15 twips a pixel.
    static constexpr QSize image1Size{68, 58};
    QLabel* image1() const { return image1_; }
    QSize sizeHint() const override;

private:
    QLabel* image1_;
};

}  // namespace quenvar::control
