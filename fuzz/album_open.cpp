// Opening an album entry through the player's album, from its four files: the picture (.bmp,
// through the picture loader), the mask (.msk) fitted to the picture, the thumbnail (.thu)
// drawn in the album list, and the settings (.ini) applied as the colour filter and the sprite
// number.
// The input holds the files in that order, split at the separator line; a file left out is
// missing. A damaged entry raises and nothing of it is used; a loaded one keeps every value in
// range.
#include "FuzzFiles.h"
#include "MV_X/Album.h"
#include "MV_X/ColorFilter.h"
#include "MV_X/EntrySettings.h"
#include "platform/classes/IniFiles.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Canvas.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace {

constexpr std::string_view Separator = "\n--album-entry-file--\n";
constexpr const char* Entry = "entry";

// The album in the run's folder.
const TAlbum& Album() {
    static const TAlbum album = [] {
        const TAlbum a(fuzz_files::Folder());
        std::filesystem::create_directories(a.Folder());
        return a;
    }();
    return album;
}

// The entry's files as the input holds them; a missing one is removed. False for an entry of a
// huge picture (see ClaimsHugeBitmap).
bool PutEntry(std::string_view input) {
    const std::array<std::string, 4> paths{Album().PictureFile(Entry), Album().MaskFile(Entry),
                                           Album().ThumbnailFile(Entry),
                                           Album().SettingsFile(Entry)};
    bool more = true;
    for (const std::string& path : paths) {
        if (!more) {
            std::remove(path.c_str());
            continue;
        }
        const size_t end = input.find(Separator);
        if (fuzz_files::ClaimsHugeBitmap(input.substr(0, end))) return false;
        fuzz_files::Put(path.substr(fuzz_files::Folder().size()), input.substr(0, end));
        more = end != std::string_view::npos;
        if (more) input.remove_prefix(end + Separator.size());
    }
    return true;
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

void DrawThumbnail() {
    TBitmap thumbnail;
    try {
        if (!Album().LoadThumbnail(Entry, thumbnail)) return;
    } catch (const Exception&) {
        return; // the list shows the error once and draws the row without it
    }
    TBitmap row;
    row.SetPixelFormat(pf24bit);
    row.SetSize(3 * TAlbum::ThumbnailSide, TAlbum::ThumbnailSide);
    row.Canvas().Draw(0, 0, thumbnail);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!PutEntry(std::string_view(reinterpret_cast<const char*>(data), size))) return 0;
    DrawThumbnail();

    TBitmap picture, mask;
    try {
        Album().Open(Entry, picture, mask);
    } catch (const Exception&) {
        if (!picture.Empty() || !mask.Empty()) std::abort();
        return 0;
    }
    if (picture.PixelFormat() != pf24bit) std::abort();
    if (mask.PixelFormat() != pf8bit || mask.Width() != picture.Width() ||
        mask.Height() != picture.Height())
        std::abort();

    TEntrySettings settings;
    if (const std::string ini = Album().SettingsFile(Entry); FileExists(ini))
        settings = ReadEntrySettings(TIniFile(ini));
    const auto [a, r, g, b] = settings.Colors;
    TBitmap image;
    image.Assign(&picture);
    ApplyColorFilter(image, picture, a, FilterColor(r, g, b));
    const std::string sprite = "ekiimg/eki" + IntToStr(settings.EkiPt) + ".bmp";
    if (settings.EkiPt < 0 || sprite.size() > 32) std::abort();
    SaveAndReadBack(settings);
    return 0;
}
