// Opening an album entry as the player does, from its four files: the picture (.bmp, through
// the picture loader), the mask (.msk) fitted to the picture, the thumbnail (.thu) drawn in
// the album list, and the settings (.ini) applied as the colour filter and the sprite number.
// The input holds the files in that order, split at the separator line; a file left out is
// missing. A damaged entry raises and nothing of it is used; a loaded one keeps every value in
// range.
#include "FuzzFiles.h"
#include "MV_X/ColorFilter.h"
#include "MV_X/EntrySettings.h"
#include "common/PictureFile.h"
#include "platform/classes/IniFiles.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view Separator = "\n--album-entry-file--\n";
constexpr std::array<const char*, 4> EntryFiles{"entry.bmp", "entry.msk", "entry.thu", "entry.ini"};
constexpr uint8_t SkinPart = 6;
constexpr int ThumbnailSide = 100;

// The entry's files as the input holds them; a missing one is removed.
std::array<std::string, 4> PutEntry(std::string_view input) {
    std::array<std::string, 4> paths;
    bool more = true;
    for (size_t i = 0; i < EntryFiles.size(); ++i) {
        paths[i] = fuzz_files::Folder() + EntryFiles[i];
        if (!more) {
            std::remove(paths[i].c_str());
            continue;
        }
        const size_t end = input.find(Separator);
        fuzz_files::Put(EntryFiles[i], input.substr(0, end));
        more = end != std::string_view::npos;
        if (more) input.remove_prefix(end + Separator.size());
    }
    return paths;
}

// Settings as saved when another entry is opened read back the same.
void SaveAndReadBack(const TEntrySettings& settings) {
    const std::string path = fuzz_files::Folder() + "saved.ini";
    std::remove(path.c_str());
    TIniFile saved(path);
    WriteEntrySettings(saved, settings);
    const TEntrySettings back = ReadEntrySettings(TIniFile(path));
    if (back.Colors != settings.Colors || back.Options != settings.Options ||
        back.EkiPt != settings.EkiPt)
        std::abort();
}

// A mask of another format or size becomes an 8-bit mask of the picture's size: the overlap
// keeps its parts, the rest is skin.
void FitMask(TBitmap& mask, int width, int height) {
    if (mask.PixelFormat() == pf8bit && mask.Width() == width && mask.Height() == height) return;
    TBitmap fitted;
    fitted.SetPixelFormat(pf8bit);
    fitted.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        std::memset(fitted.ScanLine(y), SkinPart, static_cast<size_t>(width));
    mask.SetPixelFormat(pf8bit);
    const int w = std::min(width, mask.Width()), h = std::min(height, mask.Height());
    for (int y = 0; y < h; ++y)
        std::memcpy(fitted.ScanLine(y), mask.ScanLine(y), static_cast<size_t>(w));
    mask.Assign(&fitted);
}

void DrawThumbnail(const std::string& path) {
    if (!FileExists(path)) return;
    TBitmap thumbnail;
    try {
        thumbnail.LoadFromFile(path);
    } catch (const Exception&) {
        return; // the list shows the error once and draws the row without it
    }
    TBitmap row;
    row.SetPixelFormat(pf24bit);
    row.SetSize(3 * ThumbnailSide, ThumbnailSide);
    row.Canvas().Draw(0, 0, thumbnail);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto paths = PutEntry(std::string_view(reinterpret_cast<const char*>(data), size));
    DrawThumbnail(paths[2]);

    TBitmap picture, mask;
    try {
        LoadPictureFile(paths[0], picture);
        mask.LoadFromFile(paths[1]);
    } catch (const Exception&) {
        return 0;
    }
    if (picture.PixelFormat() != pf24bit) std::abort();
    FitMask(mask, picture.Width(), picture.Height());
    if (mask.PixelFormat() != pf8bit || mask.Width() != picture.Width() ||
        mask.Height() != picture.Height())
        std::abort();

    TEntrySettings settings;
    if (FileExists(paths[3])) settings = ReadEntrySettings(TIniFile(paths[3]));
    const auto [a, r, g, b] = settings.Colors;
    TBitmap image;
    image.Assign(&picture);
    ApplyColorFilter(image, picture, a, FilterColor(r, g, b));
    const std::string sprite = "ekiimg/eki" + IntToStr(settings.EkiPt) + ".bmp";
    if (settings.EkiPt < 0 || sprite.size() > 32) std::abort();
    SaveAndReadBack(settings);
    return 0;
}
