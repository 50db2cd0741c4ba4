// The PNG datastream's constants, shared by the reader and the writer.
#pragma once

#include <array>
#include <cstdint>

namespace krlpng {

constexpr uint32_t ChunkCode(const char (&name)[5]) {
    return (uint32_t{static_cast<uint8_t>(name[0])} << 24) |
           (uint32_t{static_cast<uint8_t>(name[1])} << 16) |
           (uint32_t{static_cast<uint8_t>(name[2])} << 8) | uint32_t{static_cast<uint8_t>(name[3])};
}

constexpr uint32_t ctIHDR = ChunkCode("IHDR");
constexpr uint32_t ctPLTE = ChunkCode("PLTE");
constexpr uint32_t ctIDAT = ChunkCode("IDAT");
constexpr uint32_t ctIEND = ChunkCode("IEND");
constexpr uint32_t ctbKGD = ChunkCode("bKGD");
constexpr uint32_t ctcHRM = ChunkCode("cHRM");
constexpr uint32_t ctgAMA = ChunkCode("gAMA");
constexpr uint32_t ctgIFg = ChunkCode("gIFg");
constexpr uint32_t ctpHYs = ChunkCode("pHYs");
constexpr uint32_t ctsBIT = ChunkCode("sBIT");
constexpr uint32_t cttEXt = ChunkCode("tEXt");
constexpr uint32_t cttIME = ChunkCode("tIME");
constexpr uint32_t cttRNS = ChunkCode("tRNS");
constexpr uint32_t cttpNG = ChunkCode("tpNG");
// First four bytes of the private tpNG chunk.
constexpr uint32_t PrivateMagic = ChunkCode("KRL3");

constexpr std::array<uint8_t, 8> PNGSignature{137, 80, 78, 71, 13, 10, 26, 10};

// IHDR colour types; the reader keeps the type with the alpha bit taken off.
enum TPNGColorType : uint8_t { ctGray = 0, ctRGB = 2, ctPalette = 3, ctGrayAlpha = 4, ctRGBA = 6 };
constexpr uint8_t ctAlphaBit = 4;

// IHDR sample depths.
enum TPNGSampleDepth : int32_t { Depth1 = 1, Depth2 = 2, Depth4 = 4, Depth8 = 8, Depth16 = 16 };

// sBIT of the high-colour bitmaps: red, green, blue as 5, 5, 5 and 5, 6, 5; and 8 bits of alpha.
enum TPNGSigBits : uint32_t {
    SigBits555 = 0x050505,
    SigBits565 = 0x050605,
    SigBitsAlpha8 = 0x08000000
};

// Share of the progress given to the chunks before the image data.
constexpr int32_t HeaderShare = 30;
// gAMA holds the gamma times this.
constexpr double GammaScale = 100000.0;
// A colour that stands for a palette index (in its low byte) rather than for itself.
constexpr int32_t PaletteColor = 0x01000000;

// Adam7 passes: first column and row, and their steps.
struct TAdam7Pass {
    int32_t X0, DX, Y0, DY;
};
constexpr std::array<TAdam7Pass, 7> Adam7{{
    {0, 8, 0, 8},
    {4, 8, 0, 8},
    {0, 4, 4, 8},
    {2, 4, 0, 4},
    {0, 2, 2, 4},
    {1, 2, 0, 2},
    {0, 1, 1, 2},
}};

// Samples of a pass along one axis of Size pixels.
constexpr int32_t PassCount(int32_t size, int32_t start, int32_t step) {
    return size > start ? (size - start + step - 1) / step : 0;
}

} // namespace krlpng
