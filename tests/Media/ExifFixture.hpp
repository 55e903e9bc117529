#pragma once
// Test and benchmark fixtures: JPEGs carrying an EXIF orientation tag, written by hand since the
// ffmpeg CLI writes none.
#include <string>

namespace ombry::test {

// Puts an EXIF APP1 segment (little-endian TIFF, one IFD entry: orientation) right after a JPEG's SOI.
inline std::string withExifOrientation(const std::string& jpeg, int orientation) {
    const std::string tiff = std::string("II*\0\x08\0\0\0", 8) + std::string("\x01\0", 2) +  // one entry
                             std::string("\x12\x01\x03\0\x01\0\0\0", 8) + char(orientation) + std::string("\0\0\0", 3) +
                             std::string("\0\0\0\0", 4);
    const std::string body = std::string("Exif\0\0", 6) + tiff;
    const size_t len = body.size() + 2;
    return jpeg.substr(0, 2) + "\xFF\xE1" + char(len >> 8) + char(len & 0xFF) + body + jpeg.substr(2);
}

// The ffmpeg filter that stores an upright picture so that EXIF orientation `tag` stands it upright
// again ("null" for 1): the inverse of the turn the tag asks for.
inline std::string storedForExif(int tag) {
    switch (tag) {
    case 2: return "hflip";
    case 3: return "hflip,vflip";
    case 4: return "vflip";
    case 5: return "transpose=cclock_flip";  // mirrored about the main diagonal: its own inverse
    case 6: return "transpose=cclock";       // the tag turns it a quarter clockwise
    case 7: return "transpose=clock_flip";   // mirrored about the other diagonal
    case 8: return "transpose=clock";
    default: return "null";
    }
}

}  // namespace ombry::test
