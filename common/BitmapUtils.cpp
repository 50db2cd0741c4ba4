#include "common/BitmapUtils.h"

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/System.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

const TAssertPlace ResamplePlace{"BitmapUtils.cpp", 1066};

// A footprint ends this much short of the pixel's exact edge.
constexpr double FootprintEnd = 0.500001;

// The part of one source cell [k, k + 1] that a footprint [lo, hi] covers: its width and the
// mean local coordinate over it.
struct Overlap {
    double w;
    double m;
};

Overlap CellOverlap(int32_t k, double lo, double hi) {
    const double kk = k;
    if (kk > lo && kk + 1 < hi) return {1, 0.5};
    if (kk <= lo && kk + 1 < hi) return {1 - (lo - kk), ((lo - kk) + 1) / 2};
    if (kk > lo && kk + 1 >= hi) return {hi - kk, (hi - kk) / 2};
    return {hi - lo, ((hi - kk) + (lo - kk)) / 2};
}

// One cell along an axis under one destination pixel: the source indexes of its two corners,
// clamped to the picture (the surface is flat beyond the edges), and its overlap.
struct AxisCell {
    int32_t near;
    int32_t far;
    Overlap overlap;
};

// The cells of every destination pixel along one axis, computed once for the whole picture.
class AxisCells {
public:
    AxisCells(int32_t newSize, double scale, int32_t sourceSize) {
        first_.reserve(static_cast<size_t>(newSize) + 1);
        const int32_t last = sourceSize - 1;
        for (int32_t p = 0; p < newSize; ++p) {
            first_.push_back(cells_.size());
            const double lo = p * scale - 0.5;
            const double hi = (p + 1) * scale - FootprintEnd;
            const auto kFirst = static_cast<int32_t>(std::floor(lo));
            const auto kLast = static_cast<int32_t>(std::floor(hi));
            for (int32_t k = kFirst; k <= kLast; ++k)
                cells_.push_back(
                    {std::clamp(k, 0, last), std::clamp(k + 1, 0, last), CellOverlap(k, lo, hi)});
        }
        first_.push_back(cells_.size());
    }

    const AxisCell* begin(int32_t p) const {
        return cells_.data() + first_[static_cast<size_t>(p)];
    }
    const AxisCell* end(int32_t p) const {
        return cells_.data() + first_[static_cast<size_t>(p) + 1];
    }

private:
    std::vector<size_t> first_;
    std::vector<AxisCell> cells_;
};

// The size checks and scale factors, before anything is made.
struct Scales {
    double area;
    double sx;
    double sy;
};

Scales ComputeScales(const TBitmap& source, int32_t newWidth, int32_t newHeight,
                     const TAssertPlace& place) {
    const int32_t w = source.Width(), h = source.Height();
    if (w < 1 || h < 1) throw EAssertionFailed("Assertion failure", place.FileName, place.Line);
    const auto pixels = static_cast<double>(int64_t{w} * h);
    Scales s{};
    s.area = Divide(Divide(pixels, static_cast<double>(newWidth)), static_cast<double>(newHeight));
    s.sx = Divide(static_cast<double>(w), static_cast<double>(newWidth));
    s.sy = Divide(static_cast<double>(h), static_cast<double>(newHeight));
    // No caller asks for a negative size; refuse it before any bitmap is made.
    if (newWidth < 0 || newHeight < 0) throw EInvalidOp();
    return s;
}

// 24-bit rows of the source: its own rows when it is stored that way, else those of a copy.
class SourceRows {
public:
    SourceRows(const TBitmap& source, bool forceCopy) {
        const TBitmap* rows = &source;
        if (forceCopy || source.BitsPerPixel() != 24) {
            copy_ = std::make_unique<TBitmap>();
            copy_->Assign(source);
            copy_->SetPixelFormat(pf24bit);
            rows = copy_.get();
        }
        rows_.resize(static_cast<size_t>(rows->Height()));
        for (int32_t i = 0; i < rows->Height(); ++i)
            rows_[static_cast<size_t>(i)] = rows->ScanLine(i);
    }
    const uint8_t* operator[](int32_t i) const { return rows_[static_cast<size_t>(i)]; }

private:
    std::unique_ptr<TBitmap> copy_;
    std::vector<const uint8_t*> rows_;
};

void SetUp24(TBitmap& bitmap, int32_t width, int32_t height) {
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(width, height);
}

using Quad = double __attribute__((vector_size(32)));

// Source rows as blue, green, red, 0 doubles, each converted once: a cell row needs two
// neighbouring source rows, and the next cell row (in this destination row or the next) starts
// at the later of them or further down, so two slots keep every row as long as it is needed.
class QuadRows {
public:
    QuadRows(const SourceRows& source, int32_t width)
        : source_(source), width_(width), values_(2 * 4 * static_cast<size_t>(width)) {}

    const double* Row(int32_t i) {
        const auto slot = static_cast<size_t>(i) % 2;
        double* row = values_.data() + slot * 4 * static_cast<size_t>(width_);
        if (tags_[slot] != i) {
            ConvertRow(source_[i], width_, row);
            tags_[slot] = i;
        }
        return row;
    }

private:
    // Four bytes at a time with the fourth masked off; the last pixel alone, as its fourth
    // byte may lie past the bitmap.
    __attribute__((target_clones("avx2", "default"))) static void
    ConvertRow(const uint8_t* bytes, int32_t width, double* row) {
        using Bytes4 = uint8_t __attribute__((vector_size(4)));
        const Bytes4 colour = {255, 255, 255, 0};
        for (int32_t x = 0; x + 1 < width; ++x, bytes += 3, row += 4) {
            Bytes4 pixel;
            std::memcpy(&pixel, bytes, sizeof pixel);
            const Quad values = __builtin_convertvector(pixel & colour, Quad);
            std::memcpy(row, &values, sizeof values);
        }
        row[0] = bytes[0];
        row[1] = bytes[1];
        row[2] = bytes[2];
        row[3] = 0;
    }

    const SourceRows& source_;
    int32_t width_;
    int32_t tags_[2] = {-1, -1};
    std::vector<double> values_;
};

// Adds one cell row's share to the sums (blue, green, red, unused) of every pixel of a
// destination row: the exact integral of each cell's bilinear surface over the part of the
// pixel's footprint that the cell covers, the cells from left to right. Cell rows come top to
// bottom, so every sum grows in the order the rule gives. The three channels go side by side
// in one vector; each lane does the same double arithmetic as one channel alone would.
__attribute__((target_clones("avx2", "default"))) void
AddCellRow(const double* near, const double* far, Overlap rowOverlap, const AxisCells& columns,
           int32_t newWidth, double* sums) {
    const double wy = rowOverlap.w, my = rowOverlap.m;
    for (int32_t x = 0; x < newWidth; ++x, sums += 4) {
        Quad sum;
        std::memcpy(&sum, sums, sizeof sum);
        for (const AxisCell* c = columns.begin(x); c != columns.end(x); ++c) {
            Quad p00, p10, p01, p11;
            std::memcpy(&p00, near + 4 * c->near, sizeof p00);
            std::memcpy(&p10, near + 4 * c->far, sizeof p10);
            std::memcpy(&p01, far + 4 * c->near, sizeof p01);
            std::memcpy(&p11, far + 4 * c->far, sizeof p11);
            // Differences of whole numbers below 1024: exact in any order.
            const Quad cx = p10 - p00, cy = p01 - p00, cxy = p11 - p10 - p01 + p00;
            const double wx = c->overlap.w, mx = c->overlap.m;
            sum += wx * wy * (cx * mx + cxy * mx * my + cy * my + p00);
        }
        std::memcpy(sums, &sum, sizeof sum);
    }
}

// Each byte: its sum divided by the area, to the nearest integer with halves to even (the
// floating-point unit's default rounding), low 8 bits kept.
void StoreRow(const double* sums, int32_t newWidth, double area, uint8_t* out) {
    for (int32_t x = 0; x < newWidth; ++x, sums += 4, out += 3)
        for (int c = 0; c < 3; ++c)
            out[c] = static_cast<uint8_t>(static_cast<int64_t>(std::nearbyint(sums[c] / area)));
}

void ResampleRows(const SourceRows& src, int32_t w, int32_t h, TBitmap& dest, const Scales& s) {
    const int32_t newWidth = dest.Width(), newHeight = dest.Height();
    const AxisCells columns(newWidth, s.sx, w);
    const AxisCells rows(newHeight, s.sy, h);
    std::vector<uint8_t*> destRows(static_cast<size_t>(newHeight));
    for (int32_t y = 0; y < newHeight; ++y)
        destRows[static_cast<size_t>(y)] = dest.ScanLine(y);

    QuadRows quads(src, w);
    std::vector<double> sums(4 * static_cast<size_t>(newWidth));
    for (int32_t y = 0; y < newHeight; ++y) {
        std::fill(sums.begin(), sums.end(), 0.0);
        for (const AxisCell* r = rows.begin(y); r != rows.end(y); ++r) {
            const double* near = quads.Row(r->near);
            const double* far = quads.Row(r->far);
            AddCellRow(near, far, r->overlap, columns, newWidth, sums.data());
        }
        StoreRow(sums.data(), newWidth, s.area, destRows[static_cast<size_t>(y)]);
    }
}

// Fills Dest from Src once the sizes have passed their checks.
void Resample(TBitmap& dest, const TBitmap& src, int32_t newWidth, int32_t newHeight,
              const Scales& s) {
    const int32_t w = src.Width(), h = src.Height();
    if (&dest == &src) {
        // The source must be read before the destination takes its new size.
        const SourceRows rows(src, true);
        SetUp24(dest, newWidth, newHeight);
        ResampleRows(rows, w, h, dest, s);
        return;
    }
    SetUp24(dest, newWidth, newHeight);
    const SourceRows rows(src, false);
    ResampleRows(rows, w, h, dest, s);
}

} // namespace

std::unique_ptr<TBitmap> ResampleBitmap(const TBitmap& Source, int32_t NewWidth,
                                        int32_t NewHeight) {
    const Scales s = ComputeScales(Source, NewWidth, NewHeight, ResamplePlace);
    auto result = std::make_unique<TBitmap>();
    Resample(*result, Source, NewWidth, NewHeight, s);
    return result;
}

void ResampleBitmapInto(TBitmap& Dest, const TBitmap& Src, int32_t NewWidth, int32_t NewHeight,
                        const TAssertPlace& Place) {
    const Scales s = ComputeScales(Src, NewWidth, NewHeight, Place);
    Resample(Dest, Src, NewWidth, NewHeight, s);
}
