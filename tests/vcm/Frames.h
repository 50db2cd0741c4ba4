// Test frames for the compressors: bottom-up DIBs with a gradient and a square that moves, and
// the measures that compare them with what a decoder gives back.
#pragma once

#include "platform/graphics/Dib.h"
#include "platform/vcm/Encoder.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace frames {

inline BITMAPINFOHEADER Header(int width, int height, int bits = 24) {
    BITMAPINFOHEADER h;
    h.biWidth = width;
    h.biHeight = height;
    h.biBitCount = static_cast<uint16_t>(bits);
    return h;
}

// Frame Index: a smooth gradient with a bright square that moves four pixels a frame.
inline std::vector<uint8_t> Make(const BITMAPINFOHEADER& h, int index) {
    const int stride = vcm::DibStride(h);
    std::vector<uint8_t> bits(static_cast<size_t>(stride) * h.biHeight);
    const int left = (index * 4) % (h.biWidth / 2), top = h.biHeight / 4;
    for (int row = 0; row < h.biHeight; ++row) {
        const int y = h.biHeight - 1 - row; // bottom-up
        uint8_t* p = bits.data() + static_cast<size_t>(row) * stride;
        for (int x = 0; x < h.biWidth; ++x) {
            const bool square =
                x >= left && x < left + h.biWidth / 4 && y >= top && y < top + h.biHeight / 3;
            const int b = square ? 240 : 40 + x * 150 / h.biWidth;
            const int g = square ? 200 : 60 + y * 120 / h.biHeight;
            const int r = square ? 30 : 90 + (x + y) * 100 / (h.biWidth + h.biHeight);
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

} // namespace frames
