// The deflate side of the zlib glue: raw rows filtered (fixed or adaptive choice) and
// compressed into buffers of the IDAT size.
#include "common/KRLZLIB.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

TDeflateRows::~TDeflateRows() {
    DeflateRowsEnd(*this);
}

int32_t DeflateRowsInit(TDeflateRows& ctx, int32_t level, int32_t bufferSize) {
    if (bufferSize <= 0 || bufferSize >= DeflateBufferLimit) bufferSize = DeflateDefaultBufferSize;
    // Ending first is harmless on a fresh context and frees what a previous image held.
    DeflateRowsEnd(ctx);
    try {
        ctx.OutBuffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(bufferSize));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    ctx.OutBufferSize = bufferSize;
    ctx.Stream = z_stream{};
    ctx.Stream.next_out = ctx.OutBuffer.get();
    ctx.Stream.avail_out = static_cast<uInt>(bufferSize);
    ctx.Stream.zalloc = KRLZAlloc;
    ctx.Stream.zfree = KRLZFree;
    const int result = deflateInit2(&ctx.Stream, level, Z_DEFLATED, ZlibWindowBits, ZlibMemLevel,
                                    Z_DEFAULT_STRATEGY);
    return result == Z_OK ? 0 : -1;
}

namespace {

void RestartOutput(TDeflateRows& ctx) {
    ctx.Stream.next_out = ctx.OutBuffer.get();
    ctx.Stream.avail_out = static_cast<uInt>(ctx.OutBufferSize);
}

} // namespace

int32_t DeflateBytes(TDeflateRows& ctx, const uint8_t* data, uint32_t count) {
    z_stream& s = ctx.Stream;
    s.next_in = const_cast<Bytef*>(data); // zlib never writes through next_in
    s.avail_in = count;
    int32_t result = 0;
    while (s.avail_in > 0) {
        result = deflate(&s, Z_NO_FLUSH);
        if (result < 0) break;
        if (s.avail_out == 0) {
            result = ctx.Flush(ctx);
            if (result != 0) break;
            RestartOutput(ctx);
        }
    }
    return result;
}

int32_t DeflateRowsFinish(TDeflateRows& ctx) {
    z_stream& s = ctx.Stream;
    int r = Z_OK;
    do {
        r = deflate(&s, Z_FINISH);
        if (r < 0) return -1;
        if (r != Z_STREAM_END && s.avail_out == 0) {
            const int32_t flushed = ctx.Flush(ctx);
            if (flushed != 0) return flushed;
            RestartOutput(ctx);
        }
    } while (r != Z_STREAM_END);
    // The last chunk may be a full buffer, but never an empty one.
    int32_t result = 0;
    if (s.avail_out < static_cast<uInt>(ctx.OutBufferSize)) result = ctx.Flush(ctx);
    deflateReset(&s);
    RestartOutput(ctx);
    return result;
}

void DeflateRowsEnd(TDeflateRows& ctx) {
    ctx.OutBuffer.reset();
    ctx.OutBufferSize = 0;
    // zlib answers a stream it never set up (or already ended) with an error and no harm.
    deflateEnd(&ctx.Stream);
    ctx.Stream.next_out = Z_NULL;
    ctx.Stream.avail_out = 0;
}

int32_t WriteRow(TDeflateRows& ctx) {
    ChooseFilter(ctx);
    return DeflateBytes(ctx, ctx.Filtered, static_cast<uint32_t>(ctx.RowBytes));
}

namespace {

// Each of these writes one filter of the N raw row bytes X into Out, with Up the prior row;
// a pixel's left neighbour lies Bpp bytes back and counts 0 for the first pixel.

void FilterUp(uint8_t* out, const uint8_t* x, const uint8_t* up, size_t n) {
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(x[i] - up[i]);
}

template <size_t Bpp>
void FilterSub(uint8_t* out, const uint8_t* x, size_t n) {
    const size_t first = std::min(n, Bpp);
    for (size_t i = 0; i < first; ++i)
        out[i] = x[i];
    for (size_t i = Bpp; i < n; ++i)
        out[i] = static_cast<uint8_t>(x[i] - x[i - Bpp]);
}

template <size_t Bpp>
void FilterAverage(uint8_t* out, const uint8_t* x, const uint8_t* up, size_t n) {
    const size_t first = std::min(n, Bpp);
    for (size_t i = 0; i < first; ++i)
        out[i] = static_cast<uint8_t>(x[i] - (up[i] >> 1));
    for (size_t i = Bpp; i < n; ++i)
        out[i] = static_cast<uint8_t>(x[i] - ((unsigned{x[i - Bpp]} + up[i]) >> 1));
}

template <size_t Bpp>
void FilterPaeth(uint8_t* out, const uint8_t* x, const uint8_t* up, size_t n) {
    // With no left pixel the predictor is the byte above.
    const size_t first = std::min(n, Bpp);
    for (size_t i = 0; i < first; ++i)
        out[i] = static_cast<uint8_t>(x[i] - up[i]);
    for (size_t i = Bpp; i < n; ++i)
        out[i] = static_cast<uint8_t>(x[i] - PaethPredictor(x[i - Bpp], up[i], up[i - Bpp]));
}

template <size_t Bpp>
void FilterAs(uint8_t type, uint8_t* out, const uint8_t* x, const uint8_t* up, size_t n) {
    switch (type) {
    case ftSub:
        FilterSub<Bpp>(out, x, n);
        break;
    case ftUp:
        FilterUp(out, x, up, n);
        break;
    case ftAverage:
        FilterAverage<Bpp>(out, x, up, n);
        break;
    default:
        FilterPaeth<Bpp>(out, x, up, n);
        break;
    }
}

// Trial := Type, then the row filtered by it.
void FilterInto(const TDeflateRows& ctx, uint8_t type) {
    uint8_t* out = ctx.Trial + 1;
    const auto n = static_cast<size_t>(ctx.RowBytes > 1 ? ctx.RowBytes - 1 : 0);
    switch ((ctx.BitsPerPixel + 7) / 8) {
    case 2:
        FilterAs<2>(type, out, ctx.Row, ctx.PriorRow, n);
        break;
    case 3:
        FilterAs<3>(type, out, ctx.Row, ctx.PriorRow, n);
        break;
    case 4:
        FilterAs<4>(type, out, ctx.Row, ctx.PriorRow, n);
        break;
    case 6:
        FilterAs<6>(type, out, ctx.Row, ctx.PriorRow, n);
        break;
    case 8:
        FilterAs<8>(type, out, ctx.Row, ctx.PriorRow, n);
        break;
    default:
        FilterAs<1>(type, out, ctx.Row, ctx.PriorRow, n);
        break;
    }
    ctx.Trial[0] = type;
}

} // namespace

void ChooseFilter(TDeflateRows& ctx) {
    const auto mode = static_cast<uint8_t>(ctx.FilterMode);
    const bool adaptive = mode == 0;
    if (adaptive || mode == ftNone + 1 || mode > ftPaeth + 1) {
        ctx.Filtered[0] = ftNone;
        if (ctx.RowBytes > 1)
            std::memcpy(ctx.Filtered + 1, ctx.Row, static_cast<size_t>(ctx.RowBytes - 1));
        if (!adaptive) return;
    }
    int64_t best = -1;
    if (adaptive) {
        best = FilterScore(ctx, ctx.Filtered);
        if (best == -1) return;
        if (ctx.SourceBits == 1 || ctx.SourceBits == 8) best *= 2;
        // Sixteen-colour rows are never worth the search.
        if (ctx.SourceBits == 4) return;
    }
    for (uint8_t type = ftSub; type <= ftPaeth; ++type) {
        if (!adaptive && mode != type + 1) continue;
        FilterInto(ctx, type);
        const int32_t score = adaptive ? FilterScore(ctx, ctx.Trial) : -1;
        // A tie keeps the filter tried first.
        if (score == -1 || score > best) {
            std::swap(ctx.Trial, ctx.Filtered);
            if (score == -1) return;
            best = score;
        }
    }
}

int32_t FilterScore(TDeflateRows& ctx, const uint8_t* buffer) {
    uint32_t* counts = ctx.Histogram;
    std::fill_n(counts, 256, 0u);
    const auto n = static_cast<uint32_t>(std::max(ctx.RowBytes, 0));
    for (uint32_t i = 0; i < n; ++i)
        ++counts[buffer[i]];
    // The number of values that occur and the three largest counts, equal counts taking
    // places of their own.
    int32_t values = 0;
    uint32_t c = 0, b = 0, d = 0;
    for (int v = 0; v < 256; ++v) {
        const uint32_t k = counts[v];
        if (k == 0) continue;
        ++values;
        if (k > c) {
            d = b;
            b = c;
            c = k;
        } else if (k > b) {
            d = b;
            b = k;
        } else if (k > d) {
            d = k;
        }
    }
    if (values <= 8 || 100 * uint64_t{c} >= 90 * uint64_t{n}) return -1;
    const auto rowBytes = static_cast<long double>(n);
    long double score = 0;
    if (ctx.BitsPerPixel < 8)
        score = rowBytes / 1.5L / values * 1500.0L +
                static_cast<long double>(c + b) / rowBytes * 1000.0L;
    else
        score = rowBytes / 1.5L / values * 1000.0L +
                static_cast<long double>(uint64_t{c} + b + d) / rowBytes * 1000.0L;
    // Only rows of many megabytes could pass 32 bits.
    return score >= static_cast<long double>(std::numeric_limits<int32_t>::max())
               ? std::numeric_limits<int32_t>::max()
               : static_cast<int32_t>(score);
}
