#include "MV_X/Album.h"

#include "common/BitmapUtils.h"
#include "common/PictureFile.h"
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

namespace {

constexpr const char* AlbumFolder = "album/";
constexpr const char* SystemSettingsName = "system.ini";
constexpr const char* PictureExtension = ".bmp";
constexpr const char* MaskExtension = ".msk";
constexpr const char* ThumbnailExtension = ".thu";
constexpr const char* SettingsExtension = ".ini";
constexpr const char* EntryPrefix = "MX";
constexpr const char* EntryTimeFormat = "yyyymmddhhmmss";
// "MX" and the time stamp: a caption is what follows.
constexpr size_t EntryPrefixLength = 17;
constexpr const char* TemporarySuffix = ".~new";
constexpr const char* EntryWriteError = "ファイル %s に書き込めません";

} // namespace

TAlbum::TAlbum(const std::string& ProgramDir) : FFolder(ProgramDir + AlbumFolder) {}

std::string TAlbum::EntryFile(const std::string& Name, const char* Extension) const {
    return FFolder + Name + Extension;
}

std::string TAlbum::SystemSettingsFile() const {
    return FFolder + SystemSettingsName;
}

std::string TAlbum::PictureFile(const std::string& Name) const {
    return EntryFile(Name, PictureExtension);
}

std::string TAlbum::MaskFile(const std::string& Name) const {
    return EntryFile(Name, MaskExtension);
}

std::string TAlbum::ThumbnailFile(const std::string& Name) const {
    return EntryFile(Name, ThumbnailExtension);
}

std::string TAlbum::SettingsFile(const std::string& Name) const {
    return EntryFile(Name, SettingsExtension);
}

std::string TAlbum::NewEntryName(const std::string& FileName, const TDateTime& Time) {
    const std::string name = ExtractFileName(FileName);
    const std::string base = name.substr(0, name.size() - ExtractFileExt(name).size());
    return EntryPrefix + FormatDateTime(EntryTimeFormat, Time) + "_" + base;
}

std::string TAlbum::Caption(const std::string& Name) {
    return Name.size() > EntryPrefixLength ? Name.substr(EntryPrefixLength) : std::string();
}

bool TAlbum::IsPictureFile(const std::string& FileName) {
    const std::string ext = LowerCase(ExtractFileExt(FileName));
    return ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".bmp";
}

// The search returns names in ascending order, and names begin with the import time.
std::vector<std::string> TAlbum::Entries() const {
    std::vector<std::string> names;
    for (const std::string& file : FindFiles(FFolder, std::string("*") + ThumbnailExtension))
        names.push_back(ChangeFileExt(file, ""));
    std::reverse(names.begin(), names.end());
    return names;
}

// Decoded and written before the caller changes anything, so a file that cannot be read or
// written leaves the open entry alone.
std::string TAlbum::Import(const std::string& FileName, TBitmap& Picture, TBitmap& Mask) const {
    TBitmap picture, mask;
    LoadPictureFile(FileName, picture);
    // The format first: sized first, every pixel would be converted to its palette index.
    mask.SetPixelFormat(pf8bit);
    mask.SetSize(picture.Width(), picture.Height());
    FillMask(mask, SkinPart);
    const std::string name = NewEntryName(FileName, Now());
    WriteEntryFiles(name, picture, mask);
    Picture.TakeOver(picture);
    Mask.TakeOver(mask);
    return name;
}

// The entry's three files are written under temporary names and take their own names only
// when all three are complete, so a full disk leaves no part of a new entry in the album.
void TAlbum::WriteEntryFiles(const std::string& Name, TBitmap& Picture, TBitmap& Mask) const {
    const std::unique_ptr<TBitmap> thumbnail =
        ResampleBitmap(Picture, ThumbnailSide, ThumbnailSide);
    const std::pair<const char*, TBitmap*> files[] = {{PictureExtension, &Picture},
                                                      {MaskExtension, &Mask},
                                                      {ThumbnailExtension, thumbnail.get()}};
    std::vector<std::string> written;
    std::string failed;
    try {
        for (const auto& [extension, bitmap] : files) {
            failed = EntryFile(Name, extension);
            bitmap->SaveToFile(failed + TemporarySuffix);
            written.push_back(failed);
        }
    } catch (const Exception& e) {
        for (const std::string& file : written)
            DeleteFile(file + TemporarySuffix);
        DeleteFile(failed + TemporarySuffix);
        throw EWriteError(Format(EntryWriteError, failed) + ": " + e.Message());
    }
    // The thumbnail goes last: the album lists an entry by it.
    for (size_t i = 0; i < written.size(); ++i) {
        std::error_code error;
        std::filesystem::rename(written[i] + TemporarySuffix, written[i], error);
        if (!error) continue;
        for (size_t k = 0; k < written.size(); ++k)
            DeleteFile(written[k] + (k < i ? "" : TemporarySuffix));
        throw EWriteError(Format(EntryWriteError, written[i]));
    }
}

// Both files are read before anything changes, so a damaged entry leaves the open one whole.
void TAlbum::Open(const std::string& Name, TBitmap& Picture, TBitmap& Mask) const {
    TBitmap picture, mask;
    LoadPictureFile(PictureFile(Name), picture);
    LoadBitmapFile(MaskFile(Name), mask);
    FitMaskToPicture(mask, picture.Width(), picture.Height());
    Picture.TakeOver(picture);
    Mask.TakeOver(mask);
}

bool TAlbum::LoadThumbnail(const std::string& Name, TBitmap& Thumbnail) const {
    const std::string file = ThumbnailFile(Name);
    if (!FileExists(file)) return false;
    LoadBitmapFile(file, Thumbnail);
    return true;
}

void TAlbum::Delete(const std::string& Name) const {
    for (const char* ext : {PictureExtension, MaskExtension, ThumbnailExtension, SettingsExtension})
        DeleteFile(EntryFile(Name, ext));
}

void TAlbum::DiscardImport(const std::string& Name) const {
    for (const char* ext : {PictureExtension, MaskExtension, ThumbnailExtension})
        DeleteFile(EntryFile(Name, ext));
}

void TAlbum::RemoveUnfinishedEntryFiles() const {
    for (const std::string& name : FindFiles(FFolder, std::string("*") + TemporarySuffix))
        DeleteFile(FFolder + name);
}

void TAlbum::FillMask(TBitmap& Mask, uint8_t Value) {
    for (int y = 0; y < Mask.Height(); ++y)
        std::memset(Mask.ScanLine(y), Value, static_cast<size_t>(Mask.Width()));
}

void TAlbum::FitMaskToPicture(TBitmap& Mask, int Width, int Height) {
    if (Mask.PixelFormat() == pf8bit && Mask.Width() == Width && Mask.Height() == Height) return;
    TBitmap fitted;
    fitted.SetPixelFormat(pf8bit);
    fitted.SetSize(Width, Height);
    FillMask(fitted, SkinPart);
    Mask.SetPixelFormat(pf8bit);
    const int w = std::min(Width, Mask.Width()), h = std::min(Height, Mask.Height());
    for (int y = 0; y < h; ++y)
        std::memcpy(fitted.ScanLine(y), Mask.ScanLine(y), static_cast<size_t>(w));
    Mask.TakeOver(fitted);
}
