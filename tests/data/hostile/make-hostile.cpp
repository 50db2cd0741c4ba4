// Writes the hostile pictures of this folder: headers that claim far more than their data
// holds (PNG, RLE bitmaps), damaged or cut JPEG data, a JPEG of more scans than any encoder writes
// (the settings file of extreme values is written by hand). Each must be refused at once by the
// loaders; the test suite checks every file here, and the fuzz targets start from them.
//
//   g++ -std=c++20 make-hostile.cpp -ljpeg -lz -o /tmp/make-hostile && /tmp/make-hostile .
#include "../../support/JpegEncode.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>
#include <zlib.h>

using Bytes = std::vector<uint8_t>;

void Save(const std::string& folder, const std::string& name, const Bytes& bytes) {
    std::ofstream(folder + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void Put32(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

void Chunk(Bytes& out, const char* type, const Bytes& data) {
    Put32(out, static_cast<uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Put32(out, static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

// A PNG whose header claims Width x Height and whose image data is the start of a zlib stream
// of zero rows: valid as far as it goes, then it ends.
Bytes HugePng(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, uint8_t interlace,
              const std::vector<std::pair<const char*, Bytes>>& before, size_t dataBytes) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    Put32(ihdr, width);
    Put32(ihdr, height);
    ihdr.insert(ihdr.end(), {depth, colorType, 0, 0, interlace});
    Chunk(png, "IHDR", ihdr);
    for (const auto& [type, data] : before)
        Chunk(png, type, data);
    Bytes zeros(1 << 20, 0), packed(compressBound(zeros.size()));
    uLongf packedSize = packed.size();
    compress2(packed.data(), &packedSize, zeros.data(), zeros.size(), 9);
    Chunk(png, "IDAT", Bytes(packed.begin(), packed.begin() + static_cast<long>(dataBytes)));
    Chunk(png, "IEND", {});
    return png;
}

void Put16le(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32le(Bytes& out, uint32_t v) {
    Put16le(out, v);
    Put16le(out, v >> 16);
}

// An RLE8 (Bits 8) or RLE4 (Bits 4) bitmap of Side x Side with 16 grey colours and Codes.
Bytes RleBmp(uint32_t side, uint16_t bits, const Bytes& codes) {
    Bytes info;
    for (const uint32_t v : {40u, side, side})
        Put32le(info, v);
    Put16le(info, 1);
    Put16le(info, bits);
    for (const uint32_t v :
         {bits == 8 ? 1u : 2u, static_cast<uint32_t>(codes.size()), 2835u, 2835u, 16u, 0u})
        Put32le(info, v);
    for (uint8_t i = 0; i < 16; ++i)
        info.insert(info.end(), {static_cast<uint8_t>(i * 17), static_cast<uint8_t>(i * 17),
                                 static_cast<uint8_t>(i * 17), 0});
    Bytes bmp = {'B', 'M'};
    Put32le(bmp, static_cast<uint32_t>(14 + info.size() + codes.size()));
    Put32le(bmp, 0);
    Put32le(bmp, static_cast<uint32_t>(14 + info.size()));
    bmp.insert(bmp.end(), info.begin(), info.end());
    bmp.insert(bmp.end(), codes.begin(), codes.end());
    return bmp;
}

struct Scan {
    int comps, c0, ss, se, ah, al;
};

Bytes EncodeJpeg(int width, int height, const std::vector<Scan>& scans, bool progressive,
                 bool flat = false) {
    test_support::JpegEncoding e;
    e.width = width;
    e.height = height;
    e.quality = 90;
    e.fullChroma = false;
    e.progressive = progressive && scans.empty();
    e.adobeMarker = false;
    for (const Scan& s : scans) {
        jpeg_scan_info info{};
        info.comps_in_scan = s.comps;
        for (int i = 0; i < s.comps; ++i)
            info.component_index[i] = s.c0 + i;
        info.Ss = s.ss;
        info.Se = s.se;
        info.Ah = s.ah;
        info.Al = s.al;
        e.scans.push_back(info);
    }
    return test_support::EncodeJpeg(e, [flat](int x, int y, uint8_t* rgb) {
        for (int c = 0; c < 3; ++c)
            rgb[c] = flat ? 128 : static_cast<uint8_t>(((3 * x + c) * 7 + y * 3) & 0xFF);
    });
}

size_t Find(const Bytes& b, uint8_t marker, size_t from = 0) {
    for (size_t i = from; i + 1 < b.size(); ++i)
        if (b[i] == 0xFF && b[i + 1] == marker) return i;
    return b.size();
}

// Each (component, coefficient) refined one bit at a time: 1 + 63 x 11 scans per component
// after the DC scans, all valid, far more than any encoder writes.
std::vector<Scan> ThousandScans() {
    std::vector<Scan> scans = {{3, 0, 0, 0, 0, 1}, {3, 0, 0, 0, 1, 0}};
    for (int k = 1; k <= 63 && scans.size() < 1000; ++k)
        for (int c = 0; c < 3 && scans.size() < 1000; ++c) {
            scans.push_back({1, c, k, k, 0, 10});
            for (int al = 9; al >= 0 && scans.size() < 1000; --al)
                scans.push_back({1, c, k, k, al + 1, al});
        }
    return scans;
}

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : ".";

    Save(folder, "png-gray-46340x46340.png", HugePng(46340, 46340, 8, 0, 0, {}, 12));
    Save(folder, "png-palette-trns-46340x46340.png",
         HugePng(46340, 46340, 8, 3, 0, {{"PLTE", Bytes(6, 0x80)}, {"tRNS", Bytes{0, 128}}}, 12));
    Save(folder, "png-rgb-20000x20000.png", HugePng(20000, 20000, 8, 2, 0, {}, 1300));
    Save(folder, "png-rgba16-interlaced-20000x20000.png", HugePng(20000, 20000, 16, 6, 1, {}, 64));

    // RLE pictures claiming 16384 x 16384 from half a kilobyte: runs over the first rows,
    // then the data stops. (Codes that reach the top row would make a valid picture of that
    // size from a small change, which the fuzz targets would spend their time on.)
    for (const uint16_t bits : {8, 4}) {
        Bytes cut;
        for (int row = 0; row < 3; ++row) {
            for (int run = 0; run < 64; ++run)
                cut.insert(cut.end(), {255, 0x12});
            cut.insert(cut.end(), {64, 0x34, 0, 0});
        }
        Save(folder, "rle" + std::to_string(bits) + "-16384x16384-cut-short.bmp",
             RleBmp(16384, bits, cut));
    }

    // A small picture's file with the frame header claiming 11585 x 11585: its end marker is
    // there, its data far too short.
    Bytes big = EncodeJpeg(32, 32, {}, false);
    const size_t sof = Find(big, 0xC0);
    big[sof + 5] = big[sof + 7] = 11585 >> 8;
    big[sof + 6] = big[sof + 8] = 11585 & 0xFF;
    Save(folder, "jpeg-11585x11585.jpg", big);

    Save(folder, "jpeg-1000-scans.jpg", EncodeJpeg(128, 128, ThousandScans(), true, true));

    const Bytes progressive = EncodeJpeg(64, 48, {}, true);
    const size_t third =
        Find(progressive, 0xDA, Find(progressive, 0xDA, Find(progressive, 0xDA) + 2) + 2);
    Save(folder, "jpeg-progressive-cut-between-scans.jpg",
         Bytes(progressive.begin(), progressive.begin() + static_cast<long>(third)));
    Save(folder, "jpeg-progressive-no-end-marker.jpg",
         Bytes(progressive.begin(), progressive.end() - 2));

    // Entropy data overwritten with bytes that are no Huffman code, the end marker kept.
    Bytes corrupt = EncodeJpeg(64, 48, {}, false);
    const size_t data = Find(corrupt, 0xDA) + 14;
    for (size_t i = data + 20; i < corrupt.size() - 2; ++i)
        corrupt[i] = static_cast<uint8_t>(i % 2 == 0 ? 0xFE : 0x7F);
    Save(folder, "jpeg-corrupt-entropy.jpg", corrupt);
    return 0;
}
