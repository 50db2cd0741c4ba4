// The deflate side of the zlib glue: output buffers and flushing, the fixed filters, and the
// adaptive filter choice with its score.
#include "common/KRLZLIB.h"

#include <gtest/gtest.h>
#include <numeric>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// A context over buffers of its own for rows of up to MaxRow bytes.
constexpr size_t MaxRow = 200;

struct Rows {
    explicit Rows(const Bytes& row, const Bytes& prior = {}, int bitsPerPixel = 8,
                  int sourceBits = 24) {
        EXPECT_LE(row.size(), MaxRow);
        x = row;
        x.resize(MaxRow);
        up = prior;
        up.resize(MaxRow);
        ctx.Row = x.data();
        ctx.PriorRow = up.data();
        ctx.Filtered = filtered.data();
        ctx.Trial = trial.data();
        ctx.Histogram = histogram.data();
        ctx.RowBytes = static_cast<int32_t>(row.size()) + 1;
        ctx.BitsPerPixel = bitsPerPixel;
        ctx.SourceBits = sourceBits;
    }
    // The chosen filter type and the row as it will be compressed.
    uint8_t Choose(int32_t mode) {
        ctx.FilterMode = mode;
        ChooseFilter(ctx);
        return ctx.Filtered[0];
    }
    Bytes Chosen() const { return Bytes(ctx.Filtered, ctx.Filtered + ctx.RowBytes); }
    int32_t Score(uint8_t type) {
        ctx.FilterMode = type + 1;
        ChooseFilter(ctx);
        return FilterScore(ctx, ctx.Filtered);
    }

    Bytes x, up;
    std::array<uint8_t, MaxRow + 1> filtered{}, trial{};
    std::array<uint32_t, 256> histogram{};
    TDeflateRows ctx;
};

// Undoes the filter the writer chose, as the reader does.
Bytes Unfilter(Bytes filtered, const Bytes& prior, int bitsPerPixel) {
    Bytes priorRow(filtered.size());
    std::copy(prior.begin(), prior.begin() + static_cast<long>(filtered.size() - 1),
              priorRow.begin() + 1);
    TInflateRows ctx;
    ctx.Row = filtered.data();
    ctx.PriorRow = priorRow.data();
    ctx.RowBytes = static_cast<int32_t>(filtered.size());
    ctx.BitsPerPixel = bitsPerPixel;
    EXPECT_EQ(UnfilterRow(ctx), 0);
    return Bytes(filtered.begin() + 1, filtered.end());
}

Bytes Random(size_t n, std::mt19937& random) {
    Bytes b(n);
    for (auto& v : b)
        v = static_cast<uint8_t>(random());
    return b;
}

// ---------------------------------------------------------------- fixed filters

TEST(DeflateFilters, EveryFixedFilterRoundTripsForEveryPixelSize) {
    std::mt19937 random(11);
    for (const int bits : {1, 4, 8, 16, 24, 32, 48, 64}) {
        const size_t bpp = static_cast<size_t>((bits + 7) / 8);
        const Bytes x = Random(bpp * 7 + (bits < 8 ? 3 : 0), random);
        const Bytes up = Random(x.size(), random);
        for (int32_t mode = 1; mode <= 5; ++mode) {
            Rows rows(x, up, bits);
            EXPECT_EQ(rows.Choose(mode), mode - 1);
            EXPECT_EQ(Unfilter(rows.Chosen(), up, bits), x) << "bits " << bits << " mode " << mode;
        }
    }
}

TEST(DeflateFilters, ModesAboveFiveAndTheHighBytesMeanNone) {
    const Bytes x{10, 20, 30, 40};
    Rows rows(x, {1, 2, 3, 4});
    EXPECT_EQ(rows.Choose(6), ftNone);
    EXPECT_EQ(rows.Chosen(), (Bytes{0, 10, 20, 30, 40}));
    EXPECT_EQ(rows.Choose(255), ftNone);
    EXPECT_EQ(rows.Choose(0x102), ftSub);
    EXPECT_EQ(rows.Chosen(), (Bytes{1, 10, 10, 10, 10}));
}

TEST(DeflateFilters, AverageAndPaethAtTheRowStartUseTheByteAbove) {
    // Average predicts half the byte above, Paeth the byte above itself.
    Rows rows({255, 255}, {255, 255});
    rows.Choose(4);
    EXPECT_EQ(rows.Chosen(), (Bytes{3, 128, 0})); // (255 + 255) / 2 = 255, not 127
    rows.Choose(5);
    EXPECT_EQ(rows.Chosen(), (Bytes{4, 0, 0}));
}

// ---------------------------------------------------------------- the score

// A row of N bytes (filter byte included) whose first value occurs Top times, the rest once.
Bytes Histogram(size_t n, size_t top) {
    Bytes b(n, 0);
    for (size_t i = top; i < n; ++i)
        b[i] = static_cast<uint8_t>(i);
    return b;
}

int32_t ScoreOf(const Bytes& buffer, int bitsPerPixel) {
    std::array<uint32_t, 256> counts{};
    TDeflateRows ctx;
    ctx.Histogram = counts.data();
    ctx.RowBytes = static_cast<int32_t>(buffer.size());
    ctx.BitsPerPixel = bitsPerPixel;
    return FilterScore(ctx, buffer.data());
}

TEST(FilterScore, FewValuesOrOneStrongValueTakeTheFilterAtOnce) {
    EXPECT_EQ(ScoreOf(Histogram(100, 92), 8), -1); // nine values, but 92 per cent one of them
    EXPECT_EQ(ScoreOf(Histogram(100, 90), 8), -1); // 90 per cent
    EXPECT_NE(ScoreOf(Histogram(100, 89), 8), -1);
    Bytes eight(50);
    for (size_t i = 0; i < eight.size(); ++i)
        eight[i] = static_cast<uint8_t>(i % 8);
    EXPECT_EQ(ScoreOf(eight, 8), -1);
    eight[49] = 200;
    EXPECT_NE(ScoreOf(eight, 8), -1);
}

TEST(FilterScore, ComputedInExtendedPrecisionLeftToRight) {
    // Ten values ten times each: (100 / 1.5 / 10) x 1000 + (30 / 100) x 1000.
    Bytes tens(100);
    for (size_t i = 0; i < tens.size(); ++i)
        tens[i] = static_cast<uint8_t>(i / 10);
    EXPECT_EQ(ScoreOf(tens, 8), 6966);
    // Below 8 bits per pixel two top counts and 1500.
    EXPECT_EQ(ScoreOf(tens, 4), 10200);
    // 40 bytes, one value 16 times, 24 more once: 1599.99... + 425 truncates to 2024 in
    // extended precision (double rounding would give 2025, and so would 40 x 1500 / 1.5 / 25).
    EXPECT_EQ(ScoreOf(Histogram(40, 16), 1), 2024);
    // Equal counts take places of their own: the three largest are 2, 2 and 2.
    Bytes pairs(30);
    for (size_t i = 0; i < pairs.size(); ++i)
        pairs[i] = static_cast<uint8_t>(i / 2);
    EXPECT_EQ(ScoreOf(pairs, 24), 1533); // 1333.33 + 200
}

// ---------------------------------------------------------------- the adaptive choice

TEST(AdaptiveFilter, FewValuesAreWrittenUnfilteredWithoutTryingTheOthers) {
    Bytes x(40);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<uint8_t>(i % 7 * 30);
    Rows rows(x, Bytes(40, 1));
    rows.trial.fill(0xEE);
    EXPECT_EQ(rows.Choose(0), ftNone);
    EXPECT_TRUE(
        std::all_of(rows.trial.begin(), rows.trial.end(), [](uint8_t b) { return b == 0xEE; }));
}

TEST(AdaptiveFilter, SixteenColourRowsAreAlwaysUnfiltered) {
    // A ramp: Sub makes it one value (taken at once), but 4-bit sources never search.
    Bytes x(60);
    std::iota(x.begin(), x.end(), uint8_t{3});
    Rows ramp(x, {}, 4, 24);
    EXPECT_EQ(ramp.Choose(0), ftSub);
    Rows sixteen(x, {}, 4, 4);
    EXPECT_EQ(sixteen.Choose(0), ftNone);
}

// A row of distinct bytes whose Up filter leaves Distinct values; the other filters leave
// noise.
Rows UpWithValues(size_t distinct, int sourceBits) {
    std::mt19937 random(5);
    Bytes x(256);
    std::iota(x.begin(), x.end(), uint8_t{0});
    std::shuffle(x.begin(), x.end(), random);
    x.resize(100);
    Bytes up(100);
    for (size_t i = 0; i < up.size(); ++i)
        up[i] = static_cast<uint8_t>(x[i] - (20 + i % distinct));
    return Rows(x, up, 8, sourceBits);
}

TEST(AdaptiveFilter, ForOneAndEightBitSourcesAnotherFilterMustDoubleNonesScore) {
    for (const size_t distinct : {30, 60}) {
        Rows eight = UpWithValues(distinct, 8);
        const int32_t none = eight.Score(ftNone), up = eight.Score(ftUp);
        ASSERT_GT(none, 0);
        ASSERT_GT(up, none);
        ASSERT_GT(up, std::max({eight.Score(ftSub), eight.Score(ftAverage), eight.Score(ftPaeth)}));
        const uint8_t expected = up > 2 * none ? ftUp : ftNone;
        EXPECT_EQ(eight.Choose(0), expected) << distinct;
        EXPECT_EQ(UpWithValues(distinct, 1).Choose(0), expected) << distinct;
        // Direct colour takes the best score.
        EXPECT_EQ(UpWithValues(distinct, 24).Choose(0), ftUp) << distinct;
    }
    EXPECT_EQ(UpWithValues(30, 8).Choose(0), ftUp);
    EXPECT_EQ(UpWithValues(60, 8).Choose(0), ftNone);
}

TEST(AdaptiveFilter, ATieKeepsTheFilterTriedFirst) {
    // With the row above equal to the row shifted by one pixel, Sub, Up, Average and Paeth
    // all leave the same bytes; only the filter-type byte differs.
    Bytes steps{9, 9, 13, 17, 23, 29, 31, 37, 41, 43, 47, 53};
    Bytes x(48);
    for (size_t i = 1; i < x.size(); ++i)
        x[i] = static_cast<uint8_t>(x[i - 1] + steps[i % steps.size()]);
    Bytes up(48);
    std::copy(x.begin(), x.end() - 1, up.begin() + 1);
    Rows rows(x, up, 8, 24);
    const int32_t sub = rows.Score(ftSub);
    ASSERT_EQ(rows.Score(ftUp), sub);
    ASSERT_EQ(rows.Score(ftAverage), sub);
    ASSERT_EQ(rows.Score(ftPaeth), sub);
    ASSERT_GT(sub, rows.Score(ftNone));
    EXPECT_EQ(rows.Choose(0), ftSub);
}

// ---------------------------------------------------------------- compressing

// Collects every flushed buffer; a non-zero Answer stops the compression.
struct Collector {
    explicit Collector(int32_t bufferSize, int level = -1) {
        ctx.Flush = [this](TDeflateRows& c) {
            chunks.emplace_back(c.OutBuffer.get(),
                                c.OutBuffer.get() + c.OutBufferSize - c.Stream.avail_out);
            return answer;
        };
        EXPECT_EQ(DeflateRowsInit(ctx, level, bufferSize), 0);
    }
    Bytes All() const {
        Bytes all;
        for (const Bytes& c : chunks)
            all.insert(all.end(), c.begin(), c.end());
        return all;
    }
    TDeflateRows ctx;
    std::vector<Bytes> chunks;
    int32_t answer = 0;
};

Bytes Inflate(const Bytes& z, size_t size) {
    Bytes out(size);
    uLongf n = static_cast<uLongf>(size);
    EXPECT_EQ(uncompress(out.data(), &n, z.data(), static_cast<uLong>(z.size())), Z_OK);
    out.resize(n);
    return out;
}

TEST(DeflateRows, BufferSizesOutsideTheRangeBecomeTheDefault) {
    for (const int32_t size : {0, -5, 262144, 1 << 30}) {
        Collector c(size);
        EXPECT_EQ(c.ctx.OutBufferSize, 32768) << size;
    }
    EXPECT_EQ(Collector(262143).ctx.OutBufferSize, 262143);
    EXPECT_EQ(Collector(1).ctx.OutBufferSize, 1);
}

TEST(DeflateRows, EveryBufferButTheLastIsFull) {
    std::mt19937 random(2);
    const Bytes data = Random(5000, random);
    Collector c(1000, 0);
    EXPECT_EQ(DeflateBytes(c.ctx, data.data(), 3000), Z_OK);
    EXPECT_EQ(DeflateBytes(c.ctx, data.data() + 3000, 2000), Z_OK);
    EXPECT_EQ(DeflateRowsFinish(c.ctx), 0);
    ASSERT_GE(c.chunks.size(), 6u);
    for (size_t i = 0; i + 1 < c.chunks.size(); ++i)
        EXPECT_EQ(c.chunks[i].size(), 1000u);
    EXPECT_GT(c.chunks.back().size(), 0u);
    EXPECT_EQ(Inflate(c.All(), 5000), data);
    // Finishing leaves the context ready for another image.
    c.chunks.clear();
    EXPECT_EQ(DeflateBytes(c.ctx, data.data(), 10), Z_OK);
    EXPECT_EQ(DeflateRowsFinish(c.ctx), 0);
    EXPECT_EQ(Inflate(c.All(), 10), Bytes(data.begin(), data.begin() + 10));
}

TEST(DeflateRows, DataThatFillsTheBufferExactlyGivesNoEmptyBuffer) {
    const Bytes data(100, 7);
    Collector probe(32768);
    DeflateBytes(probe.ctx, data.data(), 100);
    DeflateRowsFinish(probe.ctx);
    const auto size = static_cast<int32_t>(probe.All().size());
    Collector exact(size);
    DeflateBytes(exact.ctx, data.data(), 100);
    EXPECT_EQ(DeflateRowsFinish(exact.ctx), 0);
    ASSERT_EQ(exact.chunks.size(), 1u);
    EXPECT_EQ(exact.chunks[0].size(), static_cast<size_t>(size));
}

TEST(DeflateRows, AFlushThatAnswersNonZeroStopsAndIsPassedBack) {
    std::mt19937 random(3);
    const Bytes data = Random(100000, random);
    Collector c(500);
    c.answer = 7;
    EXPECT_EQ(DeflateBytes(c.ctx, data.data(), 100000), 7);
    EXPECT_EQ(c.chunks.size(), 1u);
    Collector f(500, 0);
    DeflateBytes(f.ctx, data.data(), 400);
    f.answer = 9;
    EXPECT_EQ(DeflateRowsFinish(f.ctx), 9);
}

TEST(DeflateRows, WriteRowCompressesTheChosenFilter) {
    Collector c(4096);
    Bytes x{5, 6, 7, 8}, prior{1, 1, 1, 1}, filtered(5), trial(5);
    std::array<uint32_t, 256> histogram{};
    c.ctx.Row = x.data();
    c.ctx.PriorRow = prior.data();
    c.ctx.Filtered = filtered.data();
    c.ctx.Trial = trial.data();
    c.ctx.Histogram = histogram.data();
    c.ctx.RowBytes = 5;
    c.ctx.BitsPerPixel = 8;
    c.ctx.FilterMode = 3; // Up
    EXPECT_GE(WriteRow(c.ctx), 0);
    EXPECT_EQ(DeflateRowsFinish(c.ctx), 0);
    EXPECT_EQ(Inflate(c.All(), 5), (Bytes{2, 4, 5, 6, 7}));
}

TEST(DeflateRows, SetUpAndEndingAreHarmlessInAnyState) {
    TDeflateRows never;
    DeflateRowsEnd(never);
    DeflateRowsEnd(never);
    EXPECT_EQ(DeflateRowsFinish(never), -1);
    Collector c(300);
    EXPECT_EQ(DeflateRowsInit(c.ctx, 9, 600), 0);
    EXPECT_EQ(c.ctx.OutBufferSize, 600);
    EXPECT_NE(DeflateRowsInit(c.ctx, 42, 600), 0); // zlib refuses the level
    DeflateRowsEnd(c.ctx);
    EXPECT_EQ(c.ctx.OutBufferSize, 0);
    EXPECT_FALSE(c.ctx.OutBuffer);
}

} // namespace
