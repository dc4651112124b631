// The control's face in a real (offscreen) window.

#include <gtest/gtest.h>
#include <QLabel>
#include <QPointer>
#include <QWidget>

#include "control/QuenvarResources.h"
#include "tests/unit/surface/SurfaceFixture.h"

namespace quenvar::testing {
namespace {

TEST_F(SurfaceFixture, FaceShowsImage1AtTheTopLeftCorner) {
    QWidget window;
    QWidget* face = control->createFace(&window);
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(face->parentWidget(), &window);
    face->resize(control->designedSize());
    window.show();

    auto* image1 = face->findChild<QLabel*>(QStringLiteral("Image1"));
    ASSERT_NE(image1, nullptr);
    EXPECT_EQ(image1->geometry(), QRect(0, 0, 68, 58));
    EXPECT_TRUE(image1->isVisible());
    EXPECT_TRUE(face->autoFillBackground());
}

TEST_F(SurfaceFixture, Image1ShowsTheModulesPicture) {
    QWidget window;
    auto* image1 = control->createFace(&window)->findChild<QLabel*>(QStringLiteral("Image1"));
    ASSERT_NE(image1, nullptr);
    const QPixmap picture = image1->pixmap();
    ASSERT_FALSE(picture.isNull()) << "no picture at " << control::resource::image1;
    EXPECT_EQ(picture.size(), QSize(68, 58));
}

TEST_F(SurfaceFixture, DesignedSizeIsThreeTwentyByTwoForty) {
    EXPECT_EQ(control->designedSize(), QSize(320, 240));
    QWidget window;
    EXPECT_EQ(control->createFace(&window)->sizeHint(), QSize(320, 240));
}

TEST_F(SurfaceFixture, TheHostSizesEachFace) {
    QWidget window;
    QWidget* face = control->createFace(&window);
    face->setGeometry(10, 20, 100, 80);
    EXPECT_EQ(face->geometry(), QRect(10, 20, 100, 80));
    // The picture keeps its own size whatever the host chose.
    EXPECT_EQ(face->findChild<QLabel*>(QStringLiteral("Image1"))->size(), QSize(68, 58));
}

TEST_F(SurfaceFixture, TheFaceGoesWithTheControl) {
    QWidget window;
    QPointer<QWidget> face = control->createFace(&window);
    ASSERT_FALSE(face.isNull());
    control.reset();
    EXPECT_TRUE(face.isNull());
    EXPECT_TRUE(window.findChildren<QWidget*>().isEmpty());
}

}  // namespace
}  // namespace quenvar::testing
