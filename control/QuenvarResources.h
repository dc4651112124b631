#pragma once
// Where the module's resources live. They are compiled into the module with the Qt resource
// system and registered when it is loaded, so a host that has loaded quenvar.ocx reads them
// with QFile or QResource under these paths.

namespace quenvar::control::resource {

// The identifier of `_quenvar` and of `__quenvar`: a 32-bit little-endian length (16), then
// the identifier's sixteen bytes in written order (20 bytes in all).
inline constexpr const char* interfaceId = ":/quenvar/iid/_quenvar";
inline constexpr const char* eventInterfaceId = ":/quenvar/iid/__quenvar";

// The toolbox picture, bitmap number 30000: 16 x 15 pixels, 24-bit BMP.
inline constexpr int toolboxBitmapNumber = 30000;
inline constexpr const char* toolboxBitmap = ":/quenvar/bitmap/30000";
// The designer's version of the same picture: 32 x 32 pixels, 16 colours (4-bit BMP).
inline constexpr const char* toolboxBitmapDesigner = ":/quenvar/bitmap/30000-designer";

// The picture Image1 shows: 68 x 58 pixels, 24-bit BMP.
inline constexpr const char* image1 = ":/quenvar/image1.bmp";

// The type library as interface-definition text, written from the member tables when the
// module is built (carried by the module itself, not by the libraries tests link).
inline constexpr const char* typeLibrary = ":/quenvar/typelib";

// The version data as key=value lines (FileVersion, ProductVersion, FileVersionText,
// ProductVersionText, ProductName, InternalName, OriginalFilename, OLESelfRegister,
// Language, CharacterSet).
inline constexpr const char* version = ":/quenvar/version";

}  // namespace quenvar::control::resource
