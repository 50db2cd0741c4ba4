// Temporary movie files: one whose maker was killed goes at the next make into its folder; one a
// running maker holds, and any file of the user's at such a name, stay.
#include "MV_M/Temporaries.h"

#include "tests/platform/AviTestSupport.h"

#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(Temporaries, AKilledMakersFileGoesAtTheNextMakeAndNothingElse) {
    const avitest::ScratchDir folder;
    const std::string dir = folder / "";
    SetTemporaryJournal(dir + "mv_m.tmp");
    std::ofstream(dir + "movie_.avi") << "a make's";
    std::ofstream(dir + "user_.avi") << "the user's";

    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t maker = fork();
    if (maker == 0) {
        const TTemporaryFile noted(dir + "movie_.avi");
        char byte = 1;
        (void)write(ready[1], &byte, 1);
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    RemoveAbandonedTemporaries(dir);
    EXPECT_TRUE(fs::exists(dir + "movie_.avi")) << "its maker still runs";
    kill(maker, SIGKILL);
    waitpid(maker, nullptr, 0);
    RemoveAbandonedTemporaries(dir + "elsewhere/");
    EXPECT_TRUE(fs::exists(dir + "movie_.avi")) << "only the folder of the make is cleaned";
    RemoveAbandonedTemporaries(dir);
    EXPECT_FALSE(fs::exists(dir + "movie_.avi"));
    EXPECT_TRUE(fs::exists(dir + "user_.avi"));

    // A noted file the user replaced since is the user's.
    {
        std::ofstream(dir + "take_.avi") << "a make's";
        const TTemporaryFile noted(dir + "take_.avi");
        fs::remove(dir + "take_.avi");
        std::ofstream(dir + "take_.avi") << "the user's";
        RemoveAbandonedTemporaries();
    }
    EXPECT_TRUE(fs::exists(dir + "take_.avi"));
    close(ready[0]);
    close(ready[1]);
    SetTemporaryJournal({});
}
