// The hostile files of tests/data/hostile, and FIFOs, where the player reads pictures: an
// import, an album entry's picture, mask and thumbnail, its settings. Each fails cleanly at
// once: the loader's error, the bitmap as it was, no picture of the size a header claims.
#include "../support/ChildProcess.h"
#include "MV_X/EntrySettings.h"
#include "common/PictureFile.h"
#include "platform/classes/IniFiles.h"
#include "platform/graphics/Bitmap.h"
#include "platform/rtl/Exceptions.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const fs::path HostileDir = fs::path(MV_TESTDATA_DIR) / "hostile";

int64_t PeakMemoryBytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return int64_t{usage.ru_maxrss} * 1024;
}

// "" when Load raises the class library's error and leaves the bitmap as it was.
std::string FailsCleanly(const std::function<void(TBitmap&)>& load) {
    TBitmap bitmap;
    bitmap.SetPixelFormat(pf24bit);
    bitmap.SetSize(3, 2);
    try {
        load(bitmap);
        return "loaded";
    } catch (const EOutOfMemory&) {
        return "out of memory";
    } catch (const EOutOfResources&) {
        return "out of resources";
    } catch (const Exception&) {
    }
    return bitmap.Width() == 3 && bitmap.Height() == 2 ? "" : "the bitmap changed";
}

} // namespace

TEST(HostileFiles, EveryPictureMaskAndThumbnailFailsCleanly) {
    constexpr int64_t Allowance = int64_t{64} << 20;
    int pictures = 0;
    for (const auto& entry : fs::directory_iterator(HostileDir)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".png" && ext != ".jpg" && ext != ".bmp") continue;
        ++pictures;
        const std::string path = entry.path().string();
        const int64_t before = PeakMemoryBytes();
        EXPECT_EQ(FailsCleanly([&](TBitmap& b) { LoadPictureFile(path, b); }), "") << path;
        // Masks and thumbnails are read as Windows bitmaps whatever they hold.
        EXPECT_EQ(FailsCleanly([&](TBitmap& b) { b.LoadFromFile(path); }), "") << path;
        EXPECT_LT(PeakMemoryBytes() - before, Allowance) << path;
    }
    EXPECT_GE(pictures, 9);
}

TEST(HostileFiles, SettingsFilesReadAsValuesInRange) {
    for (const auto& entry : fs::directory_iterator(HostileDir)) {
        if (entry.path().extension() != ".ini") continue;
        const TEntrySettings s = ReadEntrySettings(TIniFile(entry.path().string()));
        for (const int32_t bar : s.Colors) {
            EXPECT_GE(bar, 0);
            EXPECT_LE(bar, 20);
        }
        for (size_t i = 0; i < s.Options.size(); ++i) {
            EXPECT_GE(s.Options[i], -1);
            EXPECT_LT(s.Options[i], OptionKeys[i].Items);
        }
        EXPECT_GE(s.EkiPt, 0);
        EXPECT_LT(s.EkiPt, INT32_MAX);
    }
}

// A FIFO in place of an imported picture blocked the import until someone wrote to it (the
// album's entry files: AlbumStoreTest).
TEST(HostileFiles, FifosInPlaceOfPicturesAreRefusedWithoutBlocking) {
    char pattern[] = "/tmp/mvfifoXXXXXX";
    const fs::path folder = ::mkdtemp(pattern);
    for (const char* name : {"import.png", "import.jpg", "import.bmp"}) {
        const std::string path = (folder / name).string();
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        // The PNG reader reports the open's failure as its own.
        const auto verdict = test_support::OpenVerdict;
        TBitmap bitmap;
        EXPECT_EQ(verdict([&] { LoadPictureFile(path, bitmap); }), "refused") << name;
        EXPECT_EQ(verdict([&] { bitmap.LoadFromFile(path); }), "refused") << name;
    }
    fs::remove_all(folder);
}
