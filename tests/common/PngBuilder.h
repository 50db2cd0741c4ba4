// Hand-made PNG datastreams for the codec's tests: any chunk in any order, with real CRCs.
#pragma once

#include "platform/classes/Classes.h"

#include <cstdint>
#include <string>
#include <vector>
#include <zlib.h>

namespace png_builder {

using Bytes = std::vector<uint8_t>;

inline void PutBE32(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

inline Bytes BE16(uint16_t v) {
    return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

inline Bytes Deflate(const Bytes& raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes out(size);
    compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9);
    out.resize(size);
    return out;
}

// Plain rows, each given with its filter byte 0 prepended.
inline Bytes Unfiltered(const std::vector<Bytes>& rows) {
    Bytes raw;
    for (const Bytes& row : rows) {
        raw.push_back(0);
        raw.insert(raw.end(), row.begin(), row.end());
    }
    return raw;
}

class Png {
public:
    explicit Png(bool signature = true) {
        if (signature) bytes_ = {137, 80, 78, 71, 13, 10, 26, 10};
    }

    Png& Chunk(const std::string& type, const Bytes& data) {
        PutBE32(bytes_, static_cast<uint32_t>(data.size()));
        const size_t start = bytes_.size();
        bytes_.insert(bytes_.end(), type.begin(), type.end());
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        PutBE32(bytes_, static_cast<uint32_t>(crc32(0, bytes_.data() + start,
                                                    static_cast<uInt>(bytes_.size() - start))));
        return *this;
    }
    // A chunk whose length field says Length whatever data follows.
    Png& ChunkWithLength(uint32_t length, const std::string& type, const Bytes& data) {
        PutBE32(bytes_, length);
        bytes_.insert(bytes_.end(), type.begin(), type.end());
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        PutBE32(bytes_, 0);
        return *this;
    }
    Png& IHDR(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, uint8_t interlace = 0,
              uint8_t compression = 0, uint8_t filter = 0) {
        Bytes d;
        PutBE32(d, w);
        PutBE32(d, h);
        d.insert(d.end(), {depth, colorType, compression, filter, interlace});
        return Chunk("IHDR", d);
    }
    // The compressed Raw data split over Parts IDAT chunks.
    Png& IDAT(const Bytes& raw, size_t parts = 1) {
        const Bytes z = Deflate(raw);
        const size_t step = (z.size() + parts - 1) / parts;
        for (size_t at = 0; at < z.size(); at += step)
            Chunk("IDAT", Bytes(z.begin() + static_cast<long>(at),
                                z.begin() + static_cast<long>(std::min(at + step, z.size()))));
        return *this;
    }
    Png& Rows(const std::vector<Bytes>& rows) { return IDAT(Unfiltered(rows)); }
    Png& Text(const std::string& keyword, const std::string& text) {
        Bytes d(keyword.begin(), keyword.end());
        d.push_back(0);
        d.insert(d.end(), text.begin(), text.end());
        return Chunk("tEXt", d);
    }
    // The codec's private chunk; RowsHooked turns on the read-row hook.
    Png& tpNG(uint8_t rowsHooked, uint8_t paletteGray = 0) {
        return Chunk("tpNG", {'K', 'R', 'L', '3', rowsHooked, paletteGray, 0, 0});
    }
    Png& IEND() { return Chunk("IEND", {}); }
    Png& Raw(const Bytes& data) {
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }

    const Bytes& Data() const { return bytes_; }
    void WriteTo(TStream& stream) const {
        stream.WriteBuffer(bytes_.data(), static_cast<int64_t>(bytes_.size()));
        stream.SetPosition(0);
    }

private:
    Bytes bytes_;
};

} // namespace png_builder
