#include "platform/classes/IniFiles.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/mvinitestXXXXXX";
        folder_ = std::string(::mkdtemp(pattern)) + "/";
        path_ = folder_ + "settings.ini";
    }
    void TearDown() override { fs::remove_all(folder_); }

    void Put(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }
    std::string Get() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    // Everything in the folder but the settings file: temporary files must not be left over.
    std::vector<std::string> Strays() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_))
            if (entry.path() != path_) names.push_back(entry.path().filename());
        return names;
    }

    std::string folder_;
    std::string path_;
};

std::vector<std::string> Items(const TStringList& list) {
    return {list.begin(), list.end()};
}

} // namespace

TEST_F(IniFileTest, WritesANewFileAndReadsItBack) {
    TIniFile ini(path_);
    ini.WriteInteger("COLOR", "A", 20);
    ini.WriteInteger("COLOR", "R", -3);
    ini.WriteInteger("EKI", "RYOU", 4);
    ini.WriteString("EKIPT", "NAME", "顔 写真");
    ini.WriteBool("EKIPT", "ON", true);
    ini.WriteInteger("COLOR", "G", 7); // joins its section, not the end of the file

    EXPECT_EQ(Get(), "[COLOR]\r\nA=20\r\nR=-3\r\nG=7\r\n[EKI]\r\nRYOU=4\r\n"
                     "[EKIPT]\r\nNAME=顔 写真\r\nON=1\r\n");
    TIniFile again(path_);
    EXPECT_EQ(again.ReadInteger("COLOR", "A", 0), 20);
    EXPECT_EQ(again.ReadInteger("COLOR", "R", 0), -3);
    EXPECT_EQ(again.ReadString("EKIPT", "NAME", ""), "顔 写真");
    EXPECT_TRUE(again.ReadBool("EKIPT", "ON", false));

    ini.WriteInteger("EKI", "RYOU", 1);
    ini.WriteBool("EKIPT", "ON", false);
    EXPECT_EQ(again.ReadInteger("EKI", "RYOU", 9), 1) << "reads see what is on disk";
    EXPECT_FALSE(again.ReadBool("EKIPT", "ON", true));
    EXPECT_EQ(Get().find("RYOU=4"), std::string::npos) << "a key is rewritten in place";
}

TEST_F(IniFileTest, MatchesNamesWithoutCaseAndTrimsSpaces) {
    Put("[ Eki ]\n  Ryou =  3 \nsiro=\t1\n\n[color]\r\na=5\r\n");
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("EKI", "RYOU", 0), 3);
    EXPECT_EQ(ini.ReadInteger("eki", " SIRO ", 0), 1);
    EXPECT_EQ(ini.ReadString("EKI", "ryou", "x"), "3");
    EXPECT_EQ(ini.ReadInteger("COLOR", "A", 0), 5) << "CRLF and LF lines mix";

    ini.WriteInteger("eki", "RYOU", 4);
    ini.WriteInteger("Color", "B", 2);
    EXPECT_EQ(Get(), "[ Eki ]\r\nRyou=4\r\nsiro=\t1\r\n\r\n[color]\r\na=5\r\nB=2\r\n")
        << "one section and one key per name, in the file's own spelling";
}

TEST_F(IniFileTest, NumbersAreDecimalOrHexAndAnythingElseGivesTheDefault) {
    Put("[EKI]\nDEC=12\nNEG=-7\nHEX1=0x1F\nHEX2=0X10\nHEX3=$ff\nBIG=0xFFFFFFFF\n"
        "JUNK=abc\nTAIL=12abc\nEMPTY=\nBARE=0x\nHUGE=99999999999\nSPACED=1 2\n");
    const TIniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("EKI", "DEC", 0), 12);
    EXPECT_EQ(ini.ReadInteger("EKI", "NEG", 0), -7);
    EXPECT_EQ(ini.ReadInteger("EKI", "HEX1", 0), 31);
    EXPECT_EQ(ini.ReadInteger("EKI", "HEX2", 0), 16);
    EXPECT_EQ(ini.ReadInteger("EKI", "HEX3", 0), 255);
    EXPECT_EQ(ini.ReadInteger("EKI", "BIG", 0), -1);
    for (const char* key : {"JUNK", "TAIL", "EMPTY", "BARE", "HUGE", "SPACED", "NONE"})
        EXPECT_EQ(ini.ReadInteger("EKI", key, 42), 42) << key;
    EXPECT_EQ(ini.ReadInteger("NOSECTION", "DEC", 42), 42);
    EXPECT_EQ(ini.ReadString("EKI", "EMPTY", "d"), "") << "an empty value is still a value";
    EXPECT_EQ(ini.ReadString("EKI", "NONE", "d"), "d");
    EXPECT_TRUE(ini.ReadBool("EKI", "HEX3", false));
    EXPECT_TRUE(ini.ReadBool("EKI", "JUNK", true));

    const TIniFile missing(folder_ + "nothing.ini");
    EXPECT_EQ(missing.ReadInteger("EKI", "DEC", 5), 5);
    EXPECT_FALSE(missing.SectionExists("EKI"));
    EXPECT_FALSE(fs::exists(folder_ + "nothing.ini")) << "reading never creates the file";
}

TEST_F(IniFileTest, KeepsLinesItDoesNotUnderstand) {
    const std::string before = "\xEF\xBB\xBF; written by hand\r\nstray line\r\n[EKI]\r\n"
                               "; amount\r\nRYOU=2\r\n[broken\r\n=novalue\r\n\r\n\r\n[END]\r\n"
                               "X=1";
    Put(before);
    TIniFile ini(path_);
    ini.WriteInteger("EKI", "SIRO", 0);
    EXPECT_EQ(Get(), "\xEF\xBB\xBF; written by hand\r\nstray line\r\n[EKI]\r\n; amount\r\n"
                     "RYOU=2\r\n[broken\r\n=novalue\r\nSIRO=0\r\n\r\n\r\n[END]\r\nX=1\r\n")
        << "a new key goes after the section's last line, before its blank lines";
    EXPECT_EQ(ini.ReadInteger("END", "X", 0), 1) << "a last line without a line end counts";

    ini.DeleteKey("EKI", "SIRO");
    ini.DeleteKey("EKI", "MISSING");
    EXPECT_EQ(Get(), before.substr(0, before.size() - 3) + "X=1\r\n");
}

TEST_F(IniFileTest, ListsErasesAndDeletes) {
    Put("[A]\nk1=1\nK2=2\nk1=3\n[Empty]\n; only a comment\n[B]\nx=1\n[a]\nk9=9\nk1=4\n");
    TIniFile ini(path_);
    TStringList list;
    ini.ReadSections(list);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"A", "Empty", "B"}));
    ini.ReadSection("a", list);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"k1", "K2"})) << "the first section rules";
    EXPECT_EQ(ini.ReadInteger("A", "K1", 0), 1) << "the first of repeated keys rules";
    EXPECT_FALSE(ini.ValueExists("A", "k9"));
    EXPECT_TRUE(ini.ValueExists("A", "k2"));
    EXPECT_TRUE(ini.SectionExists("b"));
    EXPECT_FALSE(ini.SectionExists("Empty")) << "a section without keys does not count";

    ini.DeleteKey("A", "K1");
    EXPECT_FALSE(ini.ValueExists("A", "k1")) << "every copy in the section goes";
    ini.EraseSection("A");
    ini.ReadSections(list);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"Empty", "B"}));
    EXPECT_EQ(Get(), "[Empty]\r\n; only a comment\r\n[B]\r\nx=1\r\n");

    ini.ReadSection("Gone", list);
    EXPECT_EQ(list.Count(), 0);
    const TIniFile missing(folder_ + "none.ini");
    missing.ReadSections(list);
    EXPECT_EQ(list.Count(), 0);
    TIniFile(folder_ + "none.ini").EraseSection("A");
    EXPECT_FALSE(fs::exists(folder_ + "none.ini")) << "nothing to erase writes nothing";
}

TEST_F(IniFileTest, AFailedWriteRaisesAndLeavesTheOldFile) {
    // The path is a folder: it can be neither read nor replaced.
    const std::string folderPath = folder_ + "album.ini";
    fs::create_directory(folderPath);
    TIniFile folderIni(folderPath);
    EXPECT_EQ(folderIni.ReadInteger("EKI", "RYOU", 2), 2);
    try {
        folderIni.WriteInteger("EKI", "RYOU", 3);
        ADD_FAILURE() << "no exception";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), folderPath + " に書き込めません");
    }
    EXPECT_TRUE(fs::is_directory(folderPath));
    fs::remove(folderPath);

    // The folder does not exist.
    EXPECT_THROW(TIniFile(folder_ + "no/such.ini").WriteInteger("EKI", "RYOU", 1),
                 EIniFileException);

    // The disk refuses the new file part way (a file-size limit also binds root).
    const std::string old = "[EKI]\r\nRYOU=2\r\n; " + std::string(200, 'x') + "\r\n";
    Put(old);
    struct sigaction ignore {
    }, saved{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &saved);
    rlimit limit{}, savedLimit{};
    getrlimit(RLIMIT_FSIZE, &savedLimit);
    limit = savedLimit;
    limit.rlim_cur = 64;
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_THROW(TIniFile(path_).WriteInteger("EKI", "SIRO", 1), EIniFileException);
    setrlimit(RLIMIT_FSIZE, &savedLimit);
    sigaction(SIGXFSZ, &saved, nullptr);
    EXPECT_EQ(Get(), old);
    EXPECT_TRUE(Strays().empty());

    // A text that would make other lines is refused before anything is written.
    TIniFile ini(path_);
    EXPECT_THROW(ini.WriteString("EKI", "RYOU", "1\r\n[HACK]\r\nX=1"), EIniFileException);
    EXPECT_THROW(ini.WriteString("EKI", "A=B", "1"), EIniFileException);
    EXPECT_THROW(ini.WriteString("E]KI", "A", "1"), EIniFileException);
    EXPECT_THROW(ini.WriteString("EKI", " ", "1"), EIniFileException);
    EXPECT_EQ(Get(), old);
}

TEST_F(IniFileTest, ARewriteKeepsTheFileMode) {
    Put("[EKI]\nRYOU=2\n");
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    TIniFile(path_).WriteInteger("EKI", "RYOU", 3);
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_TRUE(Strays().empty());
}

TEST_F(IniFileTest, HostileFilesNeitherHangNorCrash) {
    // Binary bytes, NULs and one very long line.
    std::string junk = std::string("[EKI]\nRYOU=1\n") + std::string(1, '\0') + "\xFF\xFE[\x01=\n";
    for (int i = 0; i < 200000; ++i)
        junk += static_cast<char>((i * 7919) % 256);
    junk += std::string(1 << 20, 'k') + "=5\n";
    Put(junk);
    TIniFile ini(path_);
    EXPECT_EQ(ini.ReadInteger("EKI", "RYOU", 0), 1);
    TStringList list;
    ini.ReadSection("EKI", list);
    ini.WriteInteger("EKI", "SIRO", 2);
    EXPECT_EQ(ini.ReadInteger("EKI", "SIRO", 0), 2);

    // Far too large to be a settings file: reads give defaults, a write must not lose it.
    Put("[EKI]\nRYOU=1\n" + std::string(17 << 20, ';'));
    EXPECT_EQ(ini.ReadInteger("EKI", "RYOU", 9), 9);
    EXPECT_THROW(ini.WriteInteger("EKI", "RYOU", 2), EIniFileException);
    EXPECT_EQ(fs::file_size(path_), 13u + (17u << 20));

    // A pipe at the path must not block the reader.
    fs::remove(path_);
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    EXPECT_EQ(ini.ReadInteger("EKI", "RYOU", 9), 9);
    EXPECT_THROW(ini.WriteInteger("EKI", "RYOU", 2), EIniFileException);
}

TEST_F(IniFileTest, ABatchReachesTheDiskInOneReplacement) {
    Put("; kept\r\n[EKI]\r\nRYOU=2\r\n");
    const auto inode = [&] {
        struct stat st {};
        ::stat(path_.c_str(), &st);
        return st.st_ino;
    };
    const ino_t before = inode();
    TIniFile ini(path_);
    ini.BeginUpdate();
    for (int i = 0; i < 11; ++i)
        ini.WriteInteger(i < 4 ? "COLOR" : "EKI", "K" + std::to_string(i), i);
    ini.DeleteKey("EKI", "RYOU");
    EXPECT_EQ(ini.ReadInteger("EKI", "K10", -1), 10) << "a batch reads its own changes";
    EXPECT_EQ(Get(), "; kept\r\n[EKI]\r\nRYOU=2\r\n") << "nothing is written before the end";
    EXPECT_EQ(inode(), before);
    ini.UpdateFile();
    EXPECT_EQ(Get(), "; kept\r\n[EKI]\r\nK4=4\r\nK5=5\r\nK6=6\r\nK7=7\r\nK8=8\r\nK9=9\r\nK10=10\r\n"
                     "[COLOR]\r\nK0=0\r\nK1=1\r\nK2=2\r\nK3=3\r\n");
    EXPECT_NE(inode(), before);

    // A batch given up (an exception before UpdateFile) writes nothing.
    {
        TIniFile dropped(path_);
        dropped.BeginUpdate();
        dropped.WriteInteger("EKI", "K4", 40);
    }
    EXPECT_EQ(TIniFile(path_).ReadInteger("EKI", "K4", 0), 4);
    EXPECT_TRUE(Strays().empty());
}

// A read-only file is the user's choice, a link the user's layout: both are kept.
TEST_F(IniFileTest, ReadOnlyFilesAreNotReplacedAndLinksAreWrittenThrough) {
    Put("[EKI]\r\nRYOU=2\r\n");
    fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read);
    try {
        TIniFile(path_).WriteInteger("EKI", "RYOU", 3);
        ADD_FAILURE() << "a read-only file was replaced";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), path_ + " に書き込めません");
    }
    EXPECT_EQ(Get(), "[EKI]\r\nRYOU=2\r\n");
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);

    fs::create_directory(folder_ + "real");
    const std::string real = folder_ + "real/settings.ini";
    fs::rename(path_, real);
    fs::create_symlink("real/settings.ini", path_);
    TIniFile(path_).WriteInteger("EKI", "RYOU", 4);
    EXPECT_TRUE(fs::is_symlink(path_));
    EXPECT_EQ(TIniFile(real).ReadInteger("EKI", "RYOU", 0), 4);
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

// The reader takes files up to 16 MiB; a write past that would read back as defaults.
TEST_F(IniFileTest, TheWriterRefusesWhatTheReaderWouldRefuse) {
    const std::string old = "[EKI]\r\nRYOU=2\r\n;" + std::string((16 << 20) - 40, 'x') + "\r\n";
    Put(old);
    TIniFile ini(path_);
    EXPECT_THROW(ini.WriteString("EKI", "NAME", std::string(64, 'n')), EIniFileException);
    EXPECT_EQ(fs::file_size(path_), old.size());
    EXPECT_EQ(ini.ReadInteger("EKI", "RYOU", 0), 2);
    ini.WriteInteger("EKI", "RYOU", 3); // the same size still fits
    EXPECT_EQ(ini.ReadInteger("EKI", "RYOU", 0), 3);
    EXPECT_TRUE(Strays().empty());
}

// Writes killed at random moments leave the old file or the new one, and no temporary file
// stays for long: the next write removes what a dead writer left.
TEST_F(IniFileTest, KilledWritesLeaveAWholeFileAndNoTemporaryFiles) {
    const std::string filler = ";" + std::string(4 << 20, 'f') + "\r\n";
    Put("[EKI]\r\nRYOU=0\r\n" + filler);
    for (int round = 1; round <= 20; ++round) {
        const pid_t writer = ::fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            TIniFile ini(path_);
            for (int value = round * 1000;; ++value)
                ini.WriteInteger("EKI", "RYOU", value);
        }
        ::usleep(static_cast<useconds_t>(2000 + round * 1500));
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        const int32_t value = TIniFile(path_).ReadInteger("EKI", "RYOU", -1);
        EXPECT_TRUE(value == 0 || value >= 1000) << "round " << round << ": " << value;
        EXPECT_EQ(fs::file_size(path_), Get().size());
    }
    // A leftover of a process that is gone, as a kill between naming and renaming leaves it,
    // and one of a live process, which may be mid-write.
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    Put("[EKI]\r\nRYOU=1\r\n");
    std::ofstream(folder_ + ".~ini" + std::to_string(gone) + "-0") << "[EKI]";
    std::ofstream(folder_ + ".~ini" + std::to_string(::getppid()) + "-0") << "[EKI]";
    TIniFile(path_).WriteInteger("EKI", "RYOU", 2);
    EXPECT_EQ(Strays(), std::vector<std::string>{".~ini" + std::to_string(::getppid()) + "-0"});
}
