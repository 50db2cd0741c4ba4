// The album: the folder beside the program that keeps the player's pictures, and its rules.
// An entry is named by "MX", its import time and the imported file's base name, and is four
// files of that name: the picture (.bmp), its mask of parts (.msk), the thumbnail the album
// window lists it by (.thu) and its settings (.ini). The folder also holds the program-wide
// settings. Without Qt, so that tests and fuzz targets use the same rules as both windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TBitmap;
struct TDateTime;

class TAlbum {
public:
    // A new entry's mask is all skin (the mask editor's ptHada).
    static constexpr uint8_t SkinPart = 6;
    static constexpr int ThumbnailSide = 100;

    TAlbum() = default;
    // The album of the program in ProgramDir (with its trailing '/').
    explicit TAlbum(const std::string& ProgramDir);

    // The folder, with its trailing '/'.
    const std::string& Folder() const { return FFolder; }
    std::string SystemSettingsFile() const;
    std::string PictureFile(const std::string& Name) const;
    std::string MaskFile(const std::string& Name) const;
    std::string ThumbnailFile(const std::string& Name) const;
    std::string SettingsFile(const std::string& Name) const;

    // The name an import of FileName at Time gets; an import within the same second of the
    // same file name replaces that entry.
    static std::string NewEntryName(const std::string& FileName, const TDateTime& Time);
    // What the album window shows of a name: the part after "MX" and the time, or "".
    static std::string Caption(const std::string& Name);
    // Whether FileName's extension is one of the pictures an import takes.
    static bool IsPictureFile(const std::string& FileName);

    // The names of the entries that have a thumbnail, newest first.
    std::vector<std::string> Entries() const;
    // Reads the picture file FileName and makes it an entry with an all-skin mask; Picture
    // and Mask receive them and the entry's name is returned. A file that cannot be read or
    // written raises and leaves nothing of the new entry in the folder.
    std::string Import(const std::string& FileName, TBitmap& Picture, TBitmap& Mask) const;
    // Reads the entry's picture and mask, the mask fitted to the picture; raises on a missing
    // or damaged file, leaving Picture and Mask as they were.
    void Open(const std::string& Name, TBitmap& Picture, TBitmap& Mask) const;
    // The entry's thumbnail; false when it has none, raises when it is damaged.
    bool LoadThumbnail(const std::string& Name, TBitmap& Thumbnail) const;
    // Removes the entry's four files.
    void Delete(const std::string& Name) const;
    // Removes the three files Import wrote, when a later step of the import fails.
    void DiscardImport(const std::string& Name) const;
    // An import cut short (the program killed while writing) leaves temporary files that are
    // never listed; they go at the next start.
    void RemoveUnfinishedEntryFiles() const;

    // Every byte of the 8-bit Mask := Value.
    static void FillMask(TBitmap& Mask, uint8_t Value);
    // A mask edited outside the program may not be an 8-bit bitmap of its picture's size,
    // which the drops and the mask editor rely on: the overlap keeps its parts, the rest is
    // skin, as after an import.
    static void FitMaskToPicture(TBitmap& Mask, int Width, int Height);

private:
    std::string EntryFile(const std::string& Name, const char* Extension) const;
    void WriteEntryFiles(const std::string& Name, TBitmap& Picture, TBitmap& Mask) const;

    std::string FFolder;
};
