// The PNG row filters and the inflate loop behind the reader's rows.
#include "common/KRLZLIB.h"

#include <gtest/gtest.h>
#include <random>

namespace {

using Bytes = std::vector<uint8_t>;

// The PNG standard's encoder side, written out plainly.
Bytes Filter(uint8_t type, const Bytes& x, const Bytes& up, size_t bpp) {
    Bytes out(x.size() + 1);
    out[0] = type;
    for (size_t i = 0; i < x.size(); ++i) {
        const int a = i >= bpp ? x[i - bpp] : 0, b = up[i], c = i >= bpp ? up[i - bpp] : 0;
        int pred = 0;
        if (type == 1) pred = a;
        if (type == 2) pred = b;
        if (type == 3) pred = (a + b) / 2;
        if (type == 4) {
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b),
                      pc = std::abs(p - c);
            pred = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        }
        out[i + 1] = static_cast<uint8_t>(x[i] - pred);
    }
    return out;
}

// Unfilters Filtered (with its type byte) against the raw prior row Up.
Bytes Unfilter(Bytes filtered, const Bytes& up, int bitsPerPixel, int32_t* result = nullptr) {
    Bytes prior(up.size() + 1);
    std::copy(up.begin(), up.end(), prior.begin() + 1);
    TInflateRows ctx;
    ctx.Row = filtered.data();
    ctx.PriorRow = prior.data();
    ctx.RowBytes = static_cast<int32_t>(filtered.size());
    ctx.BitsPerPixel = bitsPerPixel;
    const int32_t r = UnfilterRow(ctx);
    if (result != nullptr) *result = r;
    return Bytes(filtered.begin() + 1, filtered.end());
}

TEST(PngFilters, PaethBreaksTiesLeftThenAboveThenUpperLeft) {
    EXPECT_EQ(PaethPredictor(30, 0, 10), 30);
    EXPECT_EQ(PaethPredictor(0, 30, 10), 30);
    EXPECT_EQ(PaethPredictor(10, 20, 15), 15);
}

TEST(PngFilters, PaethPredictorMatchesTheDistanceRuleEverywhere) {
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            for (int c = 0; c < 256; ++c) {
                const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b),
                          pc = std::abs(p - c);
                const int expected = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                if (PaethPredictor(a, b, c) != expected) FAIL() << a << ", " << b << ", " << c;
            }
}

TEST(PngFilters, AverageSumsInNineBits) {
    // First byte: half the byte above; second: (255 + 255) / 2, not a wrapped 127.
    EXPECT_EQ(Unfilter({3, 128, 0}, {255, 255}, 8), (Bytes{255, 255}));
}

TEST(PngFilters, EveryFilterRoundTripsForEveryPixelSize) {
    std::mt19937 random(7);
    for (const int bits : {1, 8, 16, 24, 32, 48, 64}) {
        const size_t bpp = static_cast<size_t>((bits + 7) / 8);
        for (uint8_t type = 0; type <= 4; ++type) {
            Bytes x(bpp * 9), up(bpp * 9);
            for (auto& v : x)
                v = static_cast<uint8_t>(random());
            for (auto& v : up)
                v = static_cast<uint8_t>(random());
            EXPECT_EQ(Unfilter(Filter(type, x, up, bpp), up, bits), x)
                << "bits " << bits << " filter " << int{type};
        }
    }
}

TEST(PngFilters, AnUnknownFilterTypeFails) {
    int32_t result = 0;
    Unfilter({5, 1, 2}, {0, 0}, 8, &result);
    EXPECT_EQ(result, -1);
}

// Feeds a compressed block to the inflate context in one refill.
struct Feeder {
    explicit Feeder(Bytes z) : data(std::move(z)) {
        ctx.Refill = [this](TInflateRows& c) {
            if (given) return -7;
            given = true;
            std::copy(data.begin(), data.end(), c.InBuffer.get());
            c.Stream.next_in = c.InBuffer.get();
            c.Stream.avail_in = static_cast<uInt>(data.size());
            return 0;
        };
        EXPECT_EQ(InflateRowsInit(ctx), 0);
    }
    Bytes data;
    bool given = false;
    TInflateRows ctx;
};

Bytes Compress(const Bytes& raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes z(size);
    compress(z.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
    z.resize(size);
    return z;
}

TEST(InflateRows, RowsComeOutUntilTheDataEnds) {
    Feeder f(Compress({1, 2, 3, 4, 5, 6, 7}));
    Bytes out(3);
    EXPECT_EQ(InflateBytes(f.ctx, out.data(), 3), Z_OK);
    EXPECT_EQ(out, (Bytes{1, 2, 3}));
    // The stream ends exactly with the row: complete.
    out.resize(4);
    EXPECT_EQ(InflateBytes(f.ctx, out.data(), 4), Z_STREAM_END);
    EXPECT_EQ(out, (Bytes{4, 5, 6, 7}));
    // The stream ended before this row could be filled, with input still buffered or not.
    EXPECT_LT(InflateBytes(f.ctx, out.data(), 3), 0);
    Feeder trailing(Compress({1, 2}));
    trailing.data.insert(trailing.data.end(), {9, 9, 9});
    trailing.given = false;
    EXPECT_LT(InflateBytes(trailing.ctx, out.data(), 3), 0);
}

TEST(InflateRows, ARefillFailureIsPassedBack) {
    Feeder f(Compress(Bytes(100, 1)));
    f.data.resize(5); // cut short: the second refill answers -7
    Bytes out(100);
    EXPECT_EQ(InflateBytes(f.ctx, out.data(), 100), -7);
}

TEST(InflateRows, EndingAndResettingAreHarmlessInAnyState) {
    TInflateRows never;
    InflateRowsEnd(never);
    InflateRowsEnd(never);
    Feeder f(Compress({1}));
    InflateRowsReset(f.ctx);
    EXPECT_EQ(f.ctx.Stream.avail_in, 0u);
    InflateRowsEnd(f.ctx);
    EXPECT_EQ(f.ctx.InBufferSize, 0);
    EXPECT_EQ(InflateRowsInit(f.ctx), 0);
    EXPECT_EQ(f.ctx.InBufferSize, InflateInBufferSize);
}

} // namespace
