// The resources the control carries: identifier records, pictures and version data.

#include <gtest/gtest.h>
#include <QFile>
#include <QImage>
#include <QString>

#include <map>

#include "control/QuenvarIdentifiers.h"
#include "control/QuenvarResources.h"
#include "tests/unit/surface/BitmapHeader.h"

namespace quenvar::testing {
namespace {

QByteArray readResource(const char* path) {
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    return file.readAll();
}

QByteArray identifierRecord(const automation::Guid& id) {
    QByteArray record("\x10\x00\x00\x00", 4);
    record.append(reinterpret_cast<const char*>(id.bytes.data()), 16);
    return record;
}

TEST(Resources, IdentifierRecordsHoldLengthSixteenAndTheInterfaceIds) {
    EXPECT_EQ(readResource(control::resource::interfaceId), identifierRecord(control::identifiers::quenvarInterface));
    EXPECT_EQ(readResource(control::resource::eventInterfaceId), identifierRecord(control::identifiers::quenvarEvents));
}

struct PictureRow {
    const char* path;
    int width;
    int height;
    int bits;
};

class Picture : public ::testing::TestWithParam<PictureRow> {};

TEST_P(Picture, HasItsSizeAndDepth) {
    const PictureRow& row = GetParam();
    const QByteArray data = readResource(row.path);
    const auto header = readBitmapHeader(data);
    ASSERT_TRUE(header.has_value()) << row.path << " is no complete BMP";
    EXPECT_EQ(header->width, row.width);
    EXPECT_EQ(header->height, row.height);
    EXPECT_EQ(header->bitsPerPixel, row.bits);
    EXPECT_EQ(header->compression, 0u);
    // Something is drawn: the picture is not one flat colour.
    const QImage image = QImage::fromData(data, "BMP");
    ASSERT_FALSE(image.isNull());
    EXPECT_NE(image.pixel(0, 0), image.pixel(row.width * 36 / 100, row.height * 34 / 100)) << row.path;
}

INSTANTIATE_TEST_SUITE_P(EveryPicture, Picture,
                         ::testing::Values(PictureRow{control::resource::toolboxBitmap, 16, 15, 24},
                                           PictureRow{control::resource::toolboxBitmapDesigner, 32, 32, 4},
                                           PictureRow{control::resource::image1, 68, 58, 24}));

TEST(Resources, VersionDataNamesTheModule) {
    std::map<QString, QString> values;
    for (const QByteArray& line : readResource(control::resource::version).split('\n')) {
        const auto equals = line.indexOf('=');
        if (equals > 0) values[QString::fromUtf8(line.left(equals))] = QString::fromUtf8(line.mid(equals + 1));
    }
    EXPECT_EQ(values["FileVersion"], "1.0.0.0");
    EXPECT_EQ(values["ProductVersion"], "1.0.0.0");
    EXPECT_EQ(values["FileVersionText"], "1.00");
    EXPECT_EQ(values["ProductVersionText"], "1.00");
    EXPECT_EQ(values["ProductName"], "quenvar");
    EXPECT_EQ(values["InternalName"], "quenvar");
    EXPECT_EQ(values["OriginalFilename"], "quenvar.ocx");
    EXPECT_EQ(values.count("OLESelfRegister"), 1u);
    EXPECT_TRUE(values["Language"].startsWith("0x0409"));
    EXPECT_TRUE(values["CharacterSet"].startsWith("1200"));
}

}  // namespace
}  // namespace quenvar::testing
