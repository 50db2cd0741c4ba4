#include "common/KRLZLIB.h"

#include <limits>
#include <new>
#include <utility>

voidpf KRLZAlloc(voidpf, uInt items, uInt size) {
    if (size != 0 && items > std::numeric_limits<size_t>::max() / size) return Z_NULL;
    return ::operator new (size_t{items} * size, std::nothrow);
}

void KRLZFree(voidpf, voidpf address) {
    ::operator delete(address);
}

// ---------------------------------------------------------------- inflating

TInflateRows::~TInflateRows() {
    InflateRowsEnd(*this);
}

int32_t InflateRowsInit(TInflateRows& ctx) {
    if (ctx.InBuffer) InflateRowsEnd(ctx);
    try {
        ctx.InBuffer = std::make_unique_for_overwrite<uint8_t[]>(InflateInBufferSize);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    ctx.Stream = z_stream{};
    ctx.Stream.next_in = ctx.InBuffer.get();
    ctx.Stream.avail_in = 0;
    ctx.Stream.zalloc = KRLZAlloc;
    ctx.Stream.zfree = KRLZFree;
    ctx.InBufferSize = InflateInBufferSize;
    return inflateInit2(&ctx.Stream, ZlibWindowBits) == Z_OK ? 0 : -1;
}

int32_t InflateBytes(TInflateRows& ctx, uint8_t* dest, uint32_t count) {
    z_stream& s = ctx.Stream;
    s.next_out = dest;
    s.avail_out = count;
    int32_t result = 0;
    while (s.avail_out > 0) {
        if (s.avail_in == 0) {
            result = ctx.Refill(ctx);
            if (result != 0) break;
        }
        result = inflate(&s, Z_NO_FLUSH);
        if (result < 0) break;
        // The data ended (or wants a dictionary) with the row still short: inflating again
        // would make no progress.
        if (result != Z_OK) {
            if (s.avail_out > 0) result = Z_DATA_ERROR;
            break;
        }
    }
    return result;
}

namespace {

// Each of these reverses one filter over the N row bytes X, with Up the prior row; a pixel's
// left neighbour lies Bpp bytes back and counts 0 for the first pixel.

void UnfilterUp(uint8_t* x, const uint8_t* up, size_t n) {
    for (size_t i = 0; i < n; ++i)
        x[i] = static_cast<uint8_t>(x[i] + up[i]);
}

// Sub, Average and Paeth carry each channel's left neighbour from pixel to pixel. Keeping the
// channels in registers, one variable per byte of the pixel, spares every byte a round trip
// through the row just written. Op(filtered, left, above, upperLeft) gives the new byte.
template <size_t Bpp, class Op, size_t... K>
void UnfilterCarried(uint8_t* x, const uint8_t* up, size_t n, Op op, std::index_sequence<K...>) {
    if (n < Bpp) return;
    int left[Bpp] = {x[K]...};
    int upperLeft[Bpp] = {up[K]...};
    size_t i = Bpp;
    for (; i + Bpp <= n; i += Bpp) {
        ((left[K] = op(x[i + K], left[K], up[i + K], upperLeft[K]), upperLeft[K] = up[i + K],
          x[i + K] = static_cast<uint8_t>(left[K])),
         ...);
    }
    // A row that ends inside a pixel, which PNG rows never do.
    for (; i < n; ++i)
        x[i] = static_cast<uint8_t>(op(x[i], x[i - Bpp], up[i], up[i - Bpp]));
}

template <size_t Bpp, class Op>
void UnfilterWithLeft(uint8_t* x, const uint8_t* up, size_t n, Op op) {
    // The first pixel has no left neighbour: left and upper-left count 0.
    const size_t first = n < Bpp ? n : Bpp;
    for (size_t i = 0; i < first; ++i)
        x[i] = static_cast<uint8_t>(op(x[i], 0, up[i], 0));
    UnfilterCarried<Bpp>(x, up, n, op, std::make_index_sequence<Bpp>());
}

constexpr auto SubOp = [](int filtered, int left, int, int) { return (filtered + left) & 0xFF; };
constexpr auto AverageOp = [](int filtered, int left, int above, int) {
    return (filtered + ((left + above) >> 1)) & 0xFF;
};
constexpr auto PaethOp = [](int filtered, int left, int above, int upperLeft) {
    return (filtered + PaethPredictor(left, above, upperLeft)) & 0xFF;
};

template <size_t Bpp>
int32_t UnfilterAs(uint8_t type, uint8_t* x, const uint8_t* up, size_t n) {
    switch (type) {
    case ftNone:
        return 0;
    case ftSub:
        UnfilterWithLeft<Bpp>(x, up, n, SubOp);
        return 0;
    case ftUp:
        UnfilterUp(x, up, n);
        return 0;
    case ftAverage:
        UnfilterWithLeft<Bpp>(x, up, n, AverageOp);
        return 0;
    case ftPaeth:
        UnfilterWithLeft<Bpp>(x, up, n, PaethOp);
        return 0;
    default:
        return -1;
    }
}

} // namespace

int32_t UnfilterRow(TInflateRows& ctx) {
    uint8_t* x = ctx.Row + 1;
    const uint8_t* up = ctx.PriorRow + 1;
    const auto n = static_cast<size_t>(ctx.RowBytes > 1 ? ctx.RowBytes - 1 : 0);
    const uint8_t type = ctx.Row[0];
    switch ((ctx.BitsPerPixel + 7) / 8) {
    case 2:
        return UnfilterAs<2>(type, x, up, n);
    case 3:
        return UnfilterAs<3>(type, x, up, n);
    case 4:
        return UnfilterAs<4>(type, x, up, n);
    case 6:
        return UnfilterAs<6>(type, x, up, n);
    case 8:
        return UnfilterAs<8>(type, x, up, n);
    default:
        return UnfilterAs<1>(type, x, up, n);
    }
}

int32_t ReadRow(TInflateRows& ctx) {
    const int32_t result = InflateBytes(ctx, ctx.Row, static_cast<uint32_t>(ctx.RowBytes));
    if (result < 0) return result;
    return UnfilterRow(ctx);
}

void InflateRowsReset(TInflateRows& ctx) {
    inflateReset(&ctx.Stream);
    ctx.Stream.next_in = ctx.InBuffer.get();
    ctx.Stream.avail_in = 0;
}

void InflateRowsEnd(TInflateRows& ctx) {
    ctx.InBuffer.reset();
    ctx.InBufferSize = 0;
    // zlib answers a stream it never set up (or already ended) with an error and no harm.
    inflateEnd(&ctx.Stream);
    ctx.Stream.next_in = Z_NULL;
    ctx.Stream.avail_in = 0;
}
