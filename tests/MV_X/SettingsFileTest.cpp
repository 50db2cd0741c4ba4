// Settings files under faults and hostile values: a save that the disk refuses part way leaves
// the entry's settings as they were, and no value read from a file leaves its range.
#include "AlbumFixture.h"

#include <csignal>
#include <sys/resource.h>

namespace {

// The disk takes no more than Bytes in any one file while it lives (a file-size limit binds
// root too); writing past it fails as on a full disk.
class DiskLimit {
public:
    explicit DiskLimit(rlim_t bytes) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &savedAction_);
        getrlimit(RLIMIT_FSIZE, &savedLimit_);
        rlimit limit = savedLimit_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~DiskLimit() {
        setrlimit(RLIMIT_FSIZE, &savedLimit_);
        sigaction(SIGXFSZ, &savedAction_, nullptr);
    }
    DiskLimit(const DiskLimit&) = delete;
    DiskLimit& operator=(const DiskLimit&) = delete;

private:
    struct sigaction savedAction_ {};
    rlimit savedLimit_{};
};

} // namespace

class SettingsFileTest : public AlbumTest {
protected:
    void Close() {
        album.reset();
        form.reset();
    }
};

// Written key by key, the first keys of a new entry file would reach the disk and the rest
// not: the entry would then open with a mixture of its settings and defaults.
TEST_F(SettingsFileTest, ASaveTheDiskRefusesPartWayLeavesNoPartOfIt) {
    MakeForms();
    const std::string a = ImportAt("a.bmp", 1);
    Group("RyouRadioGroup").SetItemIndex(0);
    dialogs.clear();
    {
        const DiskLimit limit(40);
        Close();
    }
    EXPECT_EQ(Errors(), std::vector<std::string>{Entry(a, ".ini") + " に書き込めません."});
    EXPECT_FALSE(fs::exists(Entry(a, ".ini")));

    // The entry opens with its defaults, as one that never had a settings file.
    MakeForms();
    Open(a);
    EXPECT_EQ(Options(), (std::vector<int>{3, 1, 1, 0, 1, 0}));
}

// PT=-2147483648 used to overflow when the sprite number was counted down.
TEST_F(SettingsFileTest, ExtremeValuesOfAnEntryFileStayInTheirRanges) {
    TMainForm& f = MakeForms();
    const std::string a = ImportAt("a.bmp", 1);
    ImportAt("b.bmp", 2);
    fs::copy_file(std::string(MV_TESTDATA_DIR) + "/hostile/entry-extreme-values.ini",
                  Entry(a, ".ini"), fs::copy_options::overwrite_existing);
    Open(a);
    EXPECT_EQ(Bars(), (std::vector<int>{20, 0, 0, 0}));
    EXPECT_EQ(Options(), (std::vector<int>{-1, 3, 4, -1, 1, 0}));
    EXPECT_EQ(Access::EkiNo(f), 0);

    std::ofstream(Entry(a, ".ini")) << "[EKIPT]\r\nPT=2147483647\r\n";
    Open(a);
    EXPECT_EQ(Access::EkiNo(f), 0);
}
