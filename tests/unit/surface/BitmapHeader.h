#pragma once
// Reads the headers of a Windows BMP file, so tests can check a picture's size and depth
// without trusting an image loader.

#include <QByteArray>
#include <QtEndian>
#include <cstdint>
#include <optional>

namespace quenvar::testing {

struct BitmapHeader {
    std::int32_t width;
    std::int32_t height;
    std::uint16_t bitsPerPixel;
    std::uint32_t compression;
    std::uint32_t pixelOffset;
};

// The header of a well-formed uncompressed BMP whose pixel rows all fit in the data; nothing
// otherwise.
inline std::optional<BitmapHeader> readBitmapHeader(const QByteArray& data) {
    if (data.size() < 54 || !data.startsWith("BM")) return std::nullopt;
    const auto* bytes = reinterpret_cast<const uchar*>(data.constData());
    if (qFromLittleEndian<std::uint32_t>(bytes + 2) != static_cast<std::uint32_t>(data.size())) return std::nullopt;
    if (qFromLittleEndian<std::uint32_t>(bytes + 14) != 40) return std::nullopt;
    BitmapHeader header{qFromLittleEndian<std::int32_t>(bytes + 18), qFromLittleEndian<std::int32_t>(bytes + 22),
                        qFromLittleEndian<std::uint16_t>(bytes + 28), qFromLittleEndian<std::uint32_t>(bytes + 30),
                        qFromLittleEndian<std::uint32_t>(bytes + 10)};
    if (header.width <= 0 || header.height <= 0) return std::nullopt;
    const std::int64_t rowBytes = (std::int64_t{header.width} * header.bitsPerPixel + 31) / 32 * 4;
    if (header.pixelOffset + rowBytes * header.height > std::int64_t{data.size()}) return std::nullopt;
    return header;
}

}  // namespace quenvar::testing
