// Looking into written PNG datastreams: their chunks, and what libpng, an independent reader,
// decodes from them.
#pragma once

#include "platform/classes/Classes.h"

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <png.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace png_check {

using Bytes = std::vector<uint8_t>;

struct Chunk {
    std::string type;
    Bytes data;
    bool crcOk = false;
};

inline uint32_t BE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline uint32_t BE16(const uint8_t* p) {
    return (uint32_t{p[0]} << 8) | p[1];
}

inline Bytes StreamBytes(TMemoryStream& stream) {
    return Bytes(stream.Memory(), stream.Memory() + stream.Size());
}

// The chunks from Start on (after the signature by default); parsing stops at the end of the
// data or at a chunk that runs past it (which then is not listed).
inline std::vector<Chunk> Chunks(const Bytes& png, size_t start = 8) {
    std::vector<Chunk> chunks;
    size_t at = start;
    while (at + 12 <= png.size()) {
        const uint32_t length = BE32(&png[at]);
        if (length > png.size() - at - 12) break;
        Chunk c;
        c.type.assign(reinterpret_cast<const char*>(&png[at + 4]), 4);
        c.data.assign(png.begin() + static_cast<long>(at + 8),
                      png.begin() + static_cast<long>(at + 8 + length));
        const uLong crc = crc32(0, &png[at + 4], static_cast<uInt>(length + 4));
        c.crcOk = crc == BE32(&png[at + 8 + length]);
        chunks.push_back(std::move(c));
        at += 12 + length;
    }
    return chunks;
}

inline std::vector<std::string> Types(const std::vector<Chunk>& chunks) {
    std::vector<std::string> types;
    for (const Chunk& c : chunks)
        types.push_back(c.type);
    return types;
}

// The data of the first chunk of a type; empty when there is none.
inline Bytes Find(const std::vector<Chunk>& chunks, const std::string& type) {
    for (const Chunk& c : chunks)
        if (c.type == type) return c.data;
    return {};
}

inline bool Has(const std::vector<Chunk>& chunks, const std::string& type) {
    for (const Chunk& c : chunks)
        if (c.type == type) return true;
    return false;
}

inline std::vector<size_t> IDATSizes(const std::vector<Chunk>& chunks) {
    std::vector<size_t> sizes;
    for (const Chunk& c : chunks)
        if (c.type == "IDAT") sizes.push_back(c.data.size());
    return sizes;
}

// What libpng reads: the header, the palette and every sample as it stands in the file (no
// expansion, no gamma; depths below 8 unpacked to a byte per pixel), after libpng has checked
// the CRCs, the chunk order, the compressed data and the interlacing.
struct Decoded {
    bool ok = false;
    std::string error;
    std::vector<std::string> warnings;
    uint32_t width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    int channels = 0;
    std::vector<png_color> palette;
    std::vector<Bytes> rows;

    uint32_t Sample(uint32_t x, uint32_t y, int channel) const {
        const uint8_t* p = &rows[y][static_cast<size_t>(x) * channels * (depth == 16 ? 2 : 1)];
        return depth == 16 ? BE16(p + 2 * channel) : p[channel];
    }
};

namespace detail {

struct Reader {
    const Bytes* data = nullptr;
    size_t at = 0;
    Decoded* out = nullptr;
    std::vector<png_bytep> rowPointers;
    std::jmp_buf jump;
};

inline void OnError(png_structp png, png_const_charp message) {
    auto* r = static_cast<Reader*>(png_get_error_ptr(png));
    r->out->error = message;
    std::longjmp(r->jump, 1);
}

inline void OnWarning(png_structp png, png_const_charp message) {
    static_cast<Reader*>(png_get_error_ptr(png))->out->warnings.emplace_back(message);
}

inline void OnRead(png_structp png, png_bytep dest, png_size_t count) {
    auto* r = static_cast<Reader*>(png_get_io_ptr(png));
    if (count > r->data->size() - r->at) png_error(png, "read past the end");
    std::memcpy(dest, r->data->data() + r->at, count);
    r->at += count;
}

// Runs under setjmp: nothing here may own resources that a longjmp would skip.
inline void ReadAll(png_structp png, png_infop info, Reader& r) {
    Decoded& d = *r.out;
    png_read_info(png, info);
    d.width = png_get_image_width(png, info);
    d.height = png_get_image_height(png, info);
    d.depth = png_get_bit_depth(png, info);
    d.colorType = png_get_color_type(png, info);
    d.interlace = png_get_interlace_type(png, info);
    png_colorp palette = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &palette, &count) != 0) d.palette.assign(palette, palette + count);
    if (d.depth < 8) png_set_packing(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    d.channels = png_get_channels(png, info);
    d.rows.assign(d.height, Bytes(png_get_rowbytes(png, info)));
    for (Bytes& row : d.rows)
        r.rowPointers.push_back(row.data());
    png_read_image(png, r.rowPointers.data());
    png_read_end(png, nullptr);
}

} // namespace detail

inline Decoded Decode(const Bytes& png) {
    Decoded d;
    detail::Reader r;
    r.data = &png;
    r.out = &d;
    png_structp p =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, detail::OnError, detail::OnWarning);
    png_infop info = png_create_info_struct(p);
    png_set_read_fn(p, &r, detail::OnRead);
    // Large sizes are refused by libpng's default limits unless raised.
    png_set_user_limits(p, 0x7FFFFFFF, 0x7FFFFFFF);
    if (setjmp(r.jump) == 0) {
        detail::ReadAll(p, info, r);
        d.ok = true;
    }
    png_destroy_read_struct(&p, &info, nullptr);
    return d;
}

} // namespace png_check
