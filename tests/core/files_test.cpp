// The player's files on disk: the settings file and the level file are replaced by a new file
// renamed into place, and no failure, full disk or kill at any step leaves them damaged.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "adapters/disk_files.h"
#include "core/controls/settings.h"
#include "core/field/map.h"
#include "core/flow/editor.h"
#include "core/flow/main_form.h"
#include "core/flow/tally.h"
#include "core/game.h"
#include "core/screen/graphics_pack.h"
#include "testkit/testkit.h"

namespace fs = std::filesystem;
using namespace kdv;

namespace {

using testkit::ReadAll;

void WriteAll(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

struct Folder {
    Folder() {
        path = fs::temp_directory_path() /
               ("kordavel-files-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::remove_all(path);
        testkit::WriteStandardData(path.string());
    }
    ~Folder() {
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(path);
    }
    // Entries other than the ones the game owns: leftovers of a failed save.
    size_t Leftovers() const {
        size_t n = 0;
        for (const auto& e : fs::directory_iterator(path))
            n += e.path().filename() != "data" && e.path().filename() != "kordavel.ini" &&
                 e.path().filename() != "real.ini";
        return n;
    }
    fs::path path;
    static inline int counter = 0;
};

struct Killed {};

// Fails (as a full disk does) or stops dead (as a killed program does) at step n of a save.
class FaultyFiles : public adapters::DiskFiles {
  public:
    enum Mode { Fail, Kill };
    FaultyFiles(fs::path root, int failAt, Mode mode)
        : DiskFiles(std::move(root)), failAt_(failAt), mode_(mode) {}
    int steps = 0;

  protected:
    bool Allow(Step) override {
        if (++steps != failAt_) return true;
        if (mode_ == Kill) throw Killed{};
        return false;
    }

  private:
    int failAt_;
    Mode mode_;
};

// A game on the folder's files, started up.
struct DiskRig : adapters::VirtualPlatform {
    explicit DiskRig(FileSystem& files) : game(MakeGame(ServicesWith(files))) {
        FormCreate(*game);
        ok = FormActivate(*game);
    }
    std::unique_ptr<Game> game;
    bool ok = false;
};

}  // namespace

TEST(SafeSave, NoFailureOrKillAtAnyStepDamagesTheSettingsOrTheLevelFile) {
    const std::string old = "; mine\n" + FormatSettings(Settings{}) + "[Mine]\nkept=1\n";
    for (FaultyFiles::Mode mode : {FaultyFiles::Fail, FaultyFiles::Kill}) {
        for (int failAt = 1;; ++failAt) {
            Folder folder;
            WriteAll(folder.path / "kordavel.ini", old);
            // A level file with a partial record at its end.
            std::string levels = ReadAll(folder.path / "data/lswap.dat") + "partial";
            WriteAll(folder.path / "data/lswap.dat", levels);
            FaultyFiles files(folder.path, failAt, mode);
            DiskRig rig(files);
            ASSERT_TRUE(rig.ok);
            Game& g = *rig.game;
            g.Settings.soundVolume = 45;
            bool failed = false;
            try {
                SaveIni(g);
                SaveEditedLevel(g);
            } catch (const FileError&) {
                failed = true;
            } catch (const Killed&) {
                failed = true;
            }
            const std::string ini = ReadAll(folder.path / "kordavel.ini");
            const std::string lvl = ReadAll(folder.path / "data/lswap.dat");
            if (!failed) {
                EXPECT_NE(ini.find("SoundVolume=45\n"), std::string::npos);
                EXPECT_NE(ini.find("[Mine]\nkept=1\n"), std::string::npos);
                // The new record starts where the partial one did, on a record boundary.
                const size_t whole = levels.size() / kLevelRecordBytes * kLevelRecordBytes;
                EXPECT_EQ(lvl.size(), whole + kLevelRecordBytes);
                EXPECT_EQ(lvl.substr(0, whole), levels.substr(0, whole));
                EXPECT_GT(failAt, 4);  // every step was really tried
                break;
            }
            // Either file is whole: as it was, or as it was meant to become.
            EXPECT_TRUE(ini == old || ini.find("SoundVolume=45\n") != std::string::npos)
                << "step " << failAt;
            EXPECT_TRUE(lvl == levels || lvl.size() % kLevelRecordBytes == 0) << "step " << failAt;
            EXPECT_GE(lvl.size(), levels.size());
            if (mode == FaultyFiles::Fail) {
                EXPECT_EQ(folder.Leftovers(), 0u) << "step " << failAt;
            }
        }
    }
}

TEST(SafeSave, ModeSymlinksAndAPlantedTemporaryFile) {
    Folder folder;
    // The settings live elsewhere, reached through a symlink; a symlink planted at the old
    // temporary name points at a file that must not be touched.
    WriteAll(folder.path / "real.ini", "[Options]\nSoundVolume=20\n");
    fs::create_symlink(folder.path / "real.ini", folder.path / "kordavel.ini");
    ::chmod((folder.path / "real.ini").c_str(), 0600);
    WriteAll(folder.path / "victim", "untouched");
    fs::create_symlink(folder.path / "victim", folder.path / "kordavel.ini.new");
    adapters::DiskFiles files(folder.path);
    DiskRig rig(files);
    ASSERT_TRUE(rig.ok);
    rig.game->Settings.soundVolume = 70;
    FormClose(*rig.game);
    EXPECT_TRUE(fs::is_symlink(folder.path / "kordavel.ini"));
    EXPECT_NE(ReadAll(folder.path / "real.ini").find("SoundVolume=70"), std::string::npos);
    EXPECT_EQ(ReadAll(folder.path / "victim"), "untouched");
    struct stat st {};
    ASSERT_EQ(::stat((folder.path / "real.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

void ReadOnlyFileOrFolder() {
    for (bool folderReadOnly : {false, true}) {
        Folder folder;
        const std::string old = "[Options]\nSoundVolume=20\n";
        WriteAll(folder.path / "kordavel.ini", old);
        const std::string levels = ReadAll(folder.path / "data/lswap.dat");
        if (folderReadOnly) {
            ::chmod(folder.path.c_str(), 0555);
            ::chmod((folder.path / "data").c_str(), 0555);
        } else {
            ::chmod((folder.path / "kordavel.ini").c_str(), 0444);
            ::chmod((folder.path / "data/lswap.dat").c_str(), 0444);
        }
        adapters::DiskFiles files(folder.path);
        DiskRig rig(files);
        ASSERT_TRUE(rig.ok);
        rig.game->Settings.soundVolume = 70;
        EXPECT_THROW(SaveEditedLevel(*rig.game), FileError);
        FormClose(*rig.game);
        ASSERT_FALSE(rig.window.messages.empty());
        EXPECT_NE(rig.window.messages.back().find("kordavel.ini"), std::string::npos);
        ::chmod((folder.path / "data").c_str(), 0755);
        EXPECT_EQ(ReadAll(folder.path / "kordavel.ini"), old);
        EXPECT_EQ(ReadAll(folder.path / "data/lswap.dat"), levels);
    }
}

TEST(SafeSave, ReadOnlyFileOrFolderKeepsTheFilesAndSaysSo) {
    if (::geteuid() != 0) return ReadOnlyFileOrFolder();
    // Permissions do not bind root: the check runs in a child as nobody.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ReadOnlyFileOrFolder();
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(LevelFile, CountStopsAtWhatStageNumbersCanReachAndSaysSoOnce) {
    Folder folder;
    // A sparse file of four gigabytes: its record count does not fit 32 bits' worth of stages.
    fs::resize_file(folder.path / "data/lswap.dat", uint64_t(1) << 32);
    adapters::DiskFiles files(folder.path);
    DiskRig rig(files);
    ASSERT_TRUE(rig.ok);
    EXPECT_EQ(rig.game->LevelCount, kMaxLevelRecords - 1);
    ASSERT_EQ(rig.window.messages.size(), 1u);
    EXPECT_NE(rig.window.messages[0].find("only the first 372"), std::string::npos);
    // The editor does not append a record no stage number could reach.
    EXPECT_THROW(SaveEditedLevel(*rig.game), FileError);
    EXPECT_EQ(fs::file_size(folder.path / "data/lswap.dat"), uint64_t(1) << 32);
}

// A read names the most it takes (the settings ask for a megabyte); every byte of its buffer is
// zeroed first, so the buffer holds only what the file has there.
TEST(DiskFiles, AReadTakesWhatTheFileHoldsAndRoomForNoMore) {
    Folder folder;
    WriteAll(folder.path / "kordavel.ini", "[Options]\nx=1\n");
    adapters::DiskFiles files(folder.path);
    auto tail = files.Read("kordavel.ini", 10, size_t(kMaxSettingsBytes));
    ASSERT_TRUE(tail);
    EXPECT_EQ(std::string(tail->begin(), tail->end()), "x=1\n");
    EXPECT_LT(tail->capacity(), 4096u);
    EXPECT_TRUE(files.Read("kordavel.ini", 1000, 100)->empty());
}
