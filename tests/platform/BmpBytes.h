// Windows bitmap files built byte by byte, for the reader's tests.
#pragma once

#include "platform/classes/Classes.h"
#include "platform/graphics/Bitmap.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace bmp_bytes {

struct Spec {
    std::string signature = "BM";
    uint32_t headerSize = 40; // 12 writes a core header with colour triples
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bitCount = 24;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    uint32_t colorsUsed = 0;
    std::vector<uint32_t> masks; // inside headers of 52 bytes and more, else after the header
    std::vector<RGBQUAD> colors;
    std::vector<uint8_t> pixels; // as stored in the file
    int64_t offBitsDelta = 0;    // moves bfOffBits from where the pixels are written
    uint32_t gap = 0;            // bytes between the colour table and the pixels
};

inline void Put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline std::vector<uint8_t> Make(const Spec& s) {
    std::vector<uint8_t> header;
    if (s.headerSize == 12) {
        Put(header, 12, 4);
        Put(header, static_cast<uint32_t>(s.width), 2);
        Put(header, static_cast<uint32_t>(s.height), 2);
        Put(header, 1, 2);
        Put(header, s.bitCount, 2);
    } else {
        Put(header, s.headerSize, 4);
        Put(header, static_cast<uint32_t>(s.width), 4);
        Put(header, static_cast<uint32_t>(s.height), 4);
        Put(header, 1, 2);
        Put(header, s.bitCount, 2);
        Put(header, s.compression, 4);
        Put(header, s.sizeImage, 4);
        Put(header, 2835, 4);
        Put(header, 2835, 4);
        Put(header, s.colorsUsed, 4);
        Put(header, 0, 4);
        if (s.headerSize >= 52)
            for (size_t i = 0; i < 4 && header.size() < s.headerSize; ++i)
                Put(header, i < s.masks.size() ? s.masks[i] : 0, 4);
        header.resize(s.headerSize, 0);
        if (s.headerSize == 40)
            for (const uint32_t m : s.masks)
                Put(header, m, 4);
    }
    for (const RGBQUAD& q : s.colors) {
        header.insert(header.end(), {q.rgbBlue, q.rgbGreen, q.rgbRed});
        if (s.headerSize != 12) header.push_back(0);
    }
    header.resize(header.size() + s.gap, 0xEE);
    const auto offBits = static_cast<uint32_t>(14 + header.size() + s.offBitsDelta);
    std::vector<uint8_t> file(s.signature.begin(), s.signature.end());
    Put(file, static_cast<uint32_t>(14 + header.size() + s.pixels.size()), 4);
    Put(file, 0, 4);
    Put(file, offBits, 4);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), s.pixels.begin(), s.pixels.end());
    return file;
}

// Rows of bytes, each padded to a multiple of 4 bytes.
inline std::vector<uint8_t> Rows(const std::vector<std::vector<uint8_t>>& rows) {
    std::vector<uint8_t> out;
    for (const auto& row : rows) {
        out.insert(out.end(), row.begin(), row.end());
        out.resize((out.size() + 3) / 4 * 4, 0);
    }
    return out;
}

// Frees a Width x Height picture of format F that held 0xA5 in every byte, so that a picture
// allocated next shows any byte it fails to write.
inline void LeaveDirtyMemory(TPixelFormat f, int width, int height) {
    TBitmap used;
    used.SetPixelFormat(f);
    used.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        std::memset(used.ScanLine(y), 0xA5, static_cast<size_t>(used.RowBytes()));
}

inline void Load(TBitmap& bitmap, const std::vector<uint8_t>& bytes) {
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    stream.SetPosition(0);
    bitmap.LoadFromStream(stream);
}

inline std::vector<uint8_t> Save(TBitmap& bitmap) {
    TMemoryStream stream;
    bitmap.SaveToStream(stream);
    return {stream.Memory(), stream.Memory() + stream.Size()};
}

inline uint32_t Field(const std::vector<uint8_t>& file, size_t offset, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | file.at(offset + static_cast<size_t>(i));
    return v;
}

inline std::vector<uint32_t> PixelIndexes(const TBitmap& bitmap, int y) {
    std::vector<uint32_t> out;
    const uint8_t* row = bitmap.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x) {
        switch (bitmap.PixelFormat()) {
        case pf1bit:
            out.push_back((row[x / 8] >> (7 - x % 8)) & 1);
            break;
        case pf4bit:
            out.push_back(x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4);
            break;
        default:
            out.push_back(row[x]);
        }
    }
    return out;
}

} // namespace bmp_bytes
