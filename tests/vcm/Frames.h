// Test frames for the compressors: bottom-up DIBs with a gradient and a square that moves, and
// the measures that compare them with what a decoder gives back.
#pragma once

#include "platform/graphics/Dib.h"
#include "platform/vcm/Encoder.h"
#include "platform/vcm/Vcm.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace frames {

inline BITMAPINFOHEADER Header(int width, int height, int bits = 24) {
    BITMAPINFOHEADER h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = static_cast<uint16_t>(bits);
    return h;
}

// Frame Index: a smooth gradient with a bright square that moves four pixels a frame; Noise
// adds a fixed grain that costs compressors many bytes.
inline std::vector<uint8_t> Make(const BITMAPINFOHEADER& h, int index, bool noise = false) {
    uint32_t seed = 12345;
    const int stride = vcm::DibStride(h);
    std::vector<uint8_t> bits(static_cast<size_t>(stride) * h.biHeight);
    const int left = (index * 4) % std::max(h.biWidth / 2, 1), top = h.biHeight / 4;
    for (int row = 0; row < h.biHeight; ++row) {
        const int y = h.biHeight - 1 - row; // bottom-up
        uint8_t* p = bits.data() + static_cast<size_t>(row) * stride;
        for (int x = 0; x < h.biWidth; ++x) {
            const bool square =
                x >= left && x < left + h.biWidth / 4 && y >= top && y < top + h.biHeight / 3;
            const int b = square ? 240 : 40 + x * 150 / h.biWidth;
            const int g = square ? 200 : 60 + y * 120 / h.biHeight;
            int r = square ? 30 : 90 + (x + y) * 100 / (h.biWidth + h.biHeight);
            seed = seed * 1103515245 + 12345;
            if (noise) r += static_cast<int>(seed >> 26);
            if (h.biBitCount == 24) {
                p[x * 3] = static_cast<uint8_t>(b);
                p[x * 3 + 1] = static_cast<uint8_t>(g);
                p[x * 3 + 2] = static_cast<uint8_t>(r);
            } else {
                const int v = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
                p[x * 2] = static_cast<uint8_t>(v);
                p[x * 2 + 1] = static_cast<uint8_t>(v >> 8);
            }
        }
    }
    return bits;
}

// The frame as top-down blue, green, red bytes, read straight from the DIB rows.
inline std::vector<uint8_t> Bgr(const BITMAPINFOHEADER& h, const std::vector<uint8_t>& bits) {
    const int stride = vcm::DibStride(h);
    std::vector<uint8_t> out;
    for (int y = 0; y < h.biHeight; ++y) {
        const uint8_t* p = bits.data() + static_cast<size_t>(h.biHeight - 1 - y) * stride;
        for (int x = 0; x < h.biWidth; ++x) {
            if (h.biBitCount == 24) {
                out.insert(out.end(), p + x * 3, p + x * 3 + 3);
                continue;
            }
            const int v = p[x * 2] | p[x * 2 + 1] << 8;
            for (const int shift : {0, 5, 10}) {
                const int c = (v >> shift) & 31;
                out.push_back(static_cast<uint8_t>(c << 3 | c >> 2));
            }
        }
    }
    return out;
}

// Mean absolute difference per colour sample.
inline double MeanError(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 255;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        sum += std::abs(a[i] - b[i]);
    return sum / static_cast<double>(a.size());
}

constexpr int SequenceFrames = 10;

inline std::string FourccText(uint32_t f) {
    return {static_cast<char>(f), static_cast<char>(f >> 8), static_cast<char>(f >> 16),
            static_cast<char>(f >> 24)};
}

inline COMPVARS Vars(uint32_t handler, int32_t quality = ICQUALITY_DEFAULT, int32_t key = 0,
                     int32_t dataRate = 0) {
    COMPVARS cv;
    cv.cbSize = sizeof cv;
    cv.dwFlags = ICMF_COMPVARS_VALID;
    cv.fccHandler = handler;
    cv.lQ = quality;
    cv.lKey = key;
    cv.lDataRate = dataRate;
    return cv;
}

inline std::vector<uint8_t> FormatOf(const COMPVARS& cv) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(cv.lpbiOut);
    return {bytes, bytes + cv.lpbiOut->biSize};
}

struct Sequence {
    std::vector<std::vector<uint8_t>> packets;
    std::vector<bool> keys;
    std::vector<uint8_t> format;
};

// Frames 0..Count-1 through the compressor, as the movie maker hands them over.
inline Sequence Compress(COMPVARS& cv, const BITMAPINFOHEADER& h, int count = SequenceFrames,
                         bool noise = false) {
    Sequence s;
    EXPECT_TRUE(ICSeqCompressFrameStart(&cv, &h));
    if (cv.lpbiOut == nullptr) return s;
    s.format = FormatOf(cv);
    for (int i = 0; i < count; ++i) {
        const auto bits = frames::Make(h, i, noise);
        bool key = false;
        int32_t size = static_cast<int32_t>(bits.size());
        const auto* data =
            static_cast<const uint8_t*>(ICSeqCompressFrame(&cv, 0, bits.data(), &key, &size));
        EXPECT_NE(data, nullptr) << "frame " << i;
        if (data == nullptr) break;
        s.packets.emplace_back(data, data + size);
        s.keys.push_back(key);
    }
    ICSeqCompressFrameEnd(&cv);
    ICCompressorFree(&cv);
    return s;
}

} // namespace frames
