#include "platform/graphics/Palette.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace {

struct PaletteObject {
    std::vector<PALETTEENTRY> entries;
    bool ownedByBitmap = false;
};

struct PaletteTable {
    std::mutex lock;
    std::map<HPALETTE, PaletteObject> objects;
    HPALETTE next = 0x1000;
};

PaletteTable& Table() {
    static PaletteTable table;
    return table;
}

HPALETTE Insert(std::vector<PALETTEENTRY> entries, bool owned) {
    PaletteTable& t = Table();
    std::lock_guard guard(t.lock);
    const HPALETTE handle = t.next;
    t.next += 4;
    t.objects.emplace(handle, PaletteObject{std::move(entries), owned});
    return handle;
}

} // namespace

HPALETTE CreatePalette(const LOGPALETTE& palette) {
    if (palette.palVersion != 0x300) return 0;
    return Insert(palette.palPalEntry, false);
}

uint32_t GetPaletteEntries(HPALETTE palette, uint32_t start, uint32_t count,
                           PALETTEENTRY* entries) {
    PaletteTable& t = Table();
    std::lock_guard guard(t.lock);
    const auto it = t.objects.find(palette);
    if (it == t.objects.end()) return 0;
    const auto& all = it->second.entries;
    if (entries == nullptr) return static_cast<uint32_t>(all.size());
    if (start >= all.size()) return 0;
    const uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(all.size()) - start);
    std::copy_n(all.begin() + start, n, entries);
    return n;
}

bool DeleteObject(HPALETTE palette) {
    PaletteTable& t = Table();
    std::lock_guard guard(t.lock);
    const auto it = t.objects.find(palette);
    if (it == t.objects.end() || it->second.ownedByBitmap) return false;
    t.objects.erase(it);
    return true;
}

std::vector<RGBQUAD> PaletteQuads(HPALETTE palette) {
    const uint32_t count = GetPaletteEntries(palette, 0, 0, nullptr);
    std::vector<PALETTEENTRY> entries(count);
    GetPaletteEntries(palette, 0, count, entries.data());
    std::vector<RGBQUAD> quads(count);
    for (uint32_t i = 0; i < count; ++i)
        quads[i] = {entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
    return quads;
}

namespace palette_internal {

HPALETTE CreateOwned(const std::vector<RGBQUAD>& quads) {
    std::vector<PALETTEENTRY> entries(quads.size());
    for (size_t i = 0; i < quads.size(); ++i)
        entries[i] = {quads[i].rgbRed, quads[i].rgbGreen, quads[i].rgbBlue, 0};
    return Insert(std::move(entries), true);
}

void DeleteOwned(HPALETTE palette) {
    PaletteTable& t = Table();
    std::lock_guard guard(t.lock);
    t.objects.erase(palette);
}

bool IsOwned(HPALETTE palette) {
    PaletteTable& t = Table();
    std::lock_guard guard(t.lock);
    const auto it = t.objects.find(palette);
    return it != t.objects.end() && it->second.ownedByBitmap;
}

bool Adopt(HPALETTE palette) {
    PaletteTable& t = Table();
    std::lock_guard guard(t.lock);
    const auto it = t.objects.find(palette);
    if (it == t.objects.end() || it->second.ownedByBitmap) return false;
    it->second.ownedByBitmap = true;
    return true;
}

} // namespace palette_internal
