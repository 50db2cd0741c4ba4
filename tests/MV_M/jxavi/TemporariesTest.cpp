// Temporary movie files: unnamed, a killed make leaves nothing; named (where unnamed files are
// missing), a killed make's goes at the next make into its folder. A running maker's temporary,
// any file of the user's and whatever the journal says besides stay untouched.
#include "MV_M/Temporaries.h"

#include "platform/rtl/SysUtils.h"
#include "tests/platform/AviTestSupport.h"
#include "tests/support/ChildProcess.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::set<std::string> Names(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

std::string Content(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A maker that holds a temporary for Movie until it is killed.
class Maker {
public:
    Maker(const std::string& movie, const std::string& journal) {
        int ready[2];
        EXPECT_EQ(pipe(ready), 0);
        pid_ = fork();
        if (pid_ == 0) {
            const TTemporaryFile temporary(movie, journal);
            (void)!write(temporary.File().Get(), "half", 4);
            (void)!write(ready[1], "", 1);
            pause();
            _exit(0);
        }
        char byte = 0;
        EXPECT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]);
        close(ready[1]);
    }
    void Kill() const {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = -1;
};

class TemporariesTest : public ::testing::Test {
protected:
    void TearDown() override { SetUnnamedFilesAvailable(true); }

    const avitest::ScratchDir folder;
    const std::string dir = folder / "";
    const std::string journal = dir + "mv_m.tmp";
};

} // namespace

TEST_F(TemporariesTest, AnUnnamedTemporaryIsSeenOnlyOnceItReplacesTheMovie) {
    std::ofstream(dir + "movie.avi") << "old";
    std::ofstream(dir + "movie_.avi") << "the user's";
    const Maker killed(dir + "movie.avi", journal);
    EXPECT_EQ(Names(dir), (std::set<std::string>{"movie.avi", "movie_.avi"}));
    killed.Kill();
    EXPECT_EQ(Names(dir), (std::set<std::string>{"movie.avi", "movie_.avi"}));

    {
        TTemporaryFile temporary(dir + "movie.avi", journal);
        ASSERT_TRUE(temporary.Created());
        ASSERT_EQ(write(temporary.File().Get(), "new", 3), 3);
        EXPECT_TRUE(temporary.ReplaceMovie());
    }
    { const TTemporaryFile unused(dir + "movie.avi", journal); }
    EXPECT_EQ(Names(dir), (std::set<std::string>{"movie.avi", "movie_.avi"}));
    EXPECT_EQ(Content(dir + "movie.avi"), "new");
    EXPECT_EQ(Content(dir + "movie_.avi"), "the user's");
}

TEST_F(TemporariesTest, ANamedTemporaryOfAKilledMakeGoesAtTheNextMakeIntoItsFolder) {
    SetUnnamedFilesAvailable(false);
    // Any byte may be in a folder's name.
    const std::string sub = dir + "odd\nname/";
    fs::create_directory(sub);
    std::ofstream(sub + "movie.avi") << "old";
    std::ofstream(sub + "user_.avi") << "the user's";

    const Maker maker(sub + "movie.avi", journal);
    EXPECT_TRUE(fs::exists(sub + "movie_.avi"));
    RemoveAbandonedTemporaries(journal, sub);
    EXPECT_TRUE(fs::exists(sub + "movie_.avi")) << "its maker still runs";
    maker.Kill();
    RemoveAbandonedTemporaries(journal, dir);
    EXPECT_TRUE(fs::exists(sub + "movie_.avi")) << "only the folder of the make is cleaned";
    RemoveAbandonedTemporaries(journal, sub);
    EXPECT_EQ(Names(sub), (std::set<std::string>{"movie.avi", "user_.avi"}));

    // A noted file the user replaced since is the user's, even in the same inode.
    const Maker replaced(sub + "movie.avi", journal);
    replaced.Kill();
    fs::remove(sub + "movie_.avi");
    std::ofstream(sub + "movie_.avi") << "the user's";
    RemoveAbandonedTemporaries(journal);
    EXPECT_EQ(Content(sub + "movie_.avi"), "the user's");

    // Written whole, it replaces the movie and its note goes.
    TTemporaryFile temporary(sub + "movie.avi", journal);
    EXPECT_TRUE(fs::exists(sub + "movie_2_.avi"));
    EXPECT_TRUE(temporary.ReplaceMovie());
    EXPECT_EQ(Names(sub), (std::set<std::string>{"movie.avi", "movie_.avi", "user_.avi"}));
    EXPECT_EQ(Content(journal), "");
}

TEST_F(TemporariesTest, TheJournalCanNeitherRemoveNorWriteNorBlockAnythingElse) {
    SetUnnamedFilesAvailable(false);
    std::ofstream(dir + "precious.txt") << "keep";
    std::ofstream(dir + "holiday_.avi") << "keep";
    // Forged notes: a file under no temporary's name, and one under such a name but born later
    // than noted (as a new file in a reused inode is).
    auto note = [](const std::string& path, int64_t bornLater) {
        const TFileIdentity id = IdentityAt(path).value();
        return Format("%llu %llu %u %lld %u %zu ", static_cast<unsigned long long>(id.Device),
                      static_cast<unsigned long long>(id.Inode), id.Generation,
                      static_cast<long long>(id.BornSeconds - bornLater), id.BornNanoseconds,
                      path.size()) +
               path + "\n";
    };
    std::ofstream(journal) << note(dir + "precious.txt", 0) << "damaged line\n"
                           << note(dir + "holiday_.avi", 1);
    RemoveAbandonedTemporaries(journal);
    EXPECT_EQ(Content(dir + "precious.txt"), "keep");
    EXPECT_EQ(Content(dir + "holiday_.avi"), "keep");

    // A huge journal is read no further than the notes a few makes leave.
    fs::resize_file(journal, 600u << 20);
    RemoveAbandonedTemporaries(journal);
    EXPECT_LT(fs::file_size(journal), 1024u);

    // A link at the journal's place is never written through, nor its target made.
    fs::remove(journal);
    fs::create_symlink(dir + "precious.txt", journal);
    fs::create_symlink(dir + "missing.txt", dir + "dangling.tmp");
    for (const std::string& link : {journal, dir + "dangling.tmp"}) {
        TTemporaryFile temporary(dir + "movie.avi", link);
        RemoveAbandonedTemporaries(link);
    }
    EXPECT_EQ(Content(dir + "precious.txt"), "keep");
    EXPECT_FALSE(fs::exists(dir + "missing.txt"));

    // Nor does a FIFO there hold the maker up.
    fs::remove(journal);
    ASSERT_EQ(mkfifo(journal.c_str(), 0600), 0);
    EXPECT_EQ(test_support::RunInChild([&] {
                  RemoveAbandonedTemporaries(journal);
                  const TTemporaryFile temporary(dir + "movie.avi", journal);
                  return std::string("ended");
              }),
              "ended");
}
