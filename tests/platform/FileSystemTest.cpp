#include "../support/ChildProcess.h"
#include "platform/classes/Classes.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Jpeg.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"

#include <cstdlib>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/mvtestXXXXXX";
        path_ = std::string(::mkdtemp(pattern)) + "/";
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void Touch(const std::string& name) {
    std::ofstream(name) << "x";
}

} // namespace

TEST(FileSystem, MakesFoldersAndMovesFiles) {
    TempDir dir;
    const std::string deep = dir.path() + "a/b/c/";
    EXPECT_FALSE(DirectoryExists(deep));
    EXPECT_TRUE(ForceDirectories(deep));
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_FALSE(FileExists(deep));

    Touch(deep + "one.txt");
    EXPECT_TRUE(FileExists(deep + "one.txt"));
    Touch(deep + "two.txt");
    EXPECT_FALSE(RenameFile(deep + "one.txt", deep + "two.txt")) << "never replaces a file";
    EXPECT_TRUE(RenameFile(deep + "one.txt", deep + "three.txt"));
    EXPECT_TRUE(DeleteFile(deep + "three.txt"));
    EXPECT_FALSE(DeleteFile(deep + "three.txt"));
}

TEST(FileSystem, FindFilesListsInAscendingOrder) {
    TempDir dir;
    for (const char* name : {"MX20260102_b.thu", "MX20250101_a.thu", "MX20260102_a.THU", "x.bmp"})
        Touch(dir.path() + name);
    ForceDirectories(dir.path() + "folder.thu");
    const auto names = FindFiles(dir.path(), "*.thu");
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], "MX20250101_a.thu");
    EXPECT_EQ(names[1], "MX20260102_a.THU");
    EXPECT_EQ(names[2], "MX20260102_b.thu");
}

TEST(ExeDir, EndsWithASeparatorAndCanBeOverridden) {
    EXPECT_EQ(ExeDir().back(), '/');
    SetExeDirOverride("/tmp/program");
    EXPECT_EQ(ExeDir(), "/tmp/program/");
    SetExeDirOverride("");
    EXPECT_NE(ExeDir(), "/tmp/program/");
}

TEST(Streams, ReadBufferAndWriteBufferRaiseOnShortTransfers) {
    TMemoryStream m;
    const char text[] = "abcdef";
    m.WriteBuffer(text, 6);
    EXPECT_EQ(m.Size(), 6);
    m.SetPosition(2);
    char out[4] = {};
    m.ReadBuffer(out, 3);
    EXPECT_EQ(std::string(out, 3), "cde");
    EXPECT_EQ(m.Position(), 5);
    EXPECT_THROW(m.ReadBuffer(out, 2), EReadError);
    EXPECT_EQ(m.Memory()[0], 'a') << "memory is read in place";
}

TEST(Streams, FileStreamReportsMissingAndUncreatableFiles) {
    TempDir dir;
    EXPECT_THROW(TFileStream(dir.path() + "missing", fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(dir.path() + "no/such/folder/x", fmCreate), EFCreateError);
    {
        TFileStream f(dir.path() + "f.bin", fmCreate);
        f.WriteBuffer("12345", 5);
        EXPECT_EQ(f.Size(), 5);
        f.SetPosition(2);
        f.SetSize(9);
        EXPECT_EQ(f.Size(), 9);
        EXPECT_EQ(f.Position(), 2);
        f.SetSize(5);
    }
    TFileStream f(dir.path() + "f.bin", fmOpenRead);
    f.Seek(-2, soEnd);
    char two[2];
    f.ReadBuffer(two, 2);
    EXPECT_EQ(std::string(two, 2), "45");
    EXPECT_EQ(f.Read(two, 2), 0);
}

// A FIFO where a picture should be blocked the open until someone wrote to it; a device never
// ends. Reading opens refuse both at once; the checks run in a child so a block cannot hang.
TEST(Streams, FilesThatAreNotRegularFilesAreRefusedWithoutBlocking) {
    TempDir dir;
    const std::string fifo = dir.path() + "entry.bmp";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto verdict = test_support::OpenVerdict;
    for (const uint32_t mode : {uint32_t{fmOpenRead}, uint32_t{fmOpenRead | fmShareDenyWrite},
                                uint32_t{fmOpenReadWrite}, uint32_t{fmOpenWrite}})
        EXPECT_EQ(verdict([&] { TFileStream(fifo, mode); }), "refused") << mode;
    EXPECT_EQ(verdict([&] { TFileStream("/dev/zero", fmOpenRead); }), "refused");
    EXPECT_EQ(verdict([&] { TBitmap().LoadFromFile(fifo); }), "refused");
    EXPECT_EQ(verdict([&] { TJPEGImage().LoadFromFile(fifo); }), "refused");
    EXPECT_EQ(verdict([&] { TMemoryStream().LoadFromFile(fifo); }), "refused");
}

TEST(StringList, KeepsSortedOrderAndChecksIndexes) {
    TStringList list;
    list.SetSorted(true);
    list.Add("b");
    list.Add("a");
    list.Add("c");
    EXPECT_EQ(list[0], "a");
    EXPECT_EQ(list.IndexOf("c"), 2);
    EXPECT_THROW(list.Delete(3), EListError);
    list.Delete(0);
    EXPECT_EQ(list.Text(), "b\r\nc\r\n");
}
