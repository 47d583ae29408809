// The installed game: cmake --install into a temporary prefix, the installed program run
// headless with a temporary home, the files of the menu entry, and where the player's files go.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/paths.h"
#include "core/field/map.h"
#include "testkit/testkit.h"

namespace fs = std::filesystem;
using testkit::Bytes;

namespace {

constexpr const char* kAppId = "org.kordavel.Kordavel";
// Enter the level editor and leave it with Esc, which appends the edited map.
constexpr const char* kEditorScript = "5 menu MLevelEditor\n10 key 27 down\n12 key 27 up\n";

using testkit::ReadAll;

void WriteAll(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

struct TempDir {
    explicit TempDir(const std::string& what) {
        path = fs::temp_directory_path() / ("kordavel-" + what + "-" + std::to_string(::getpid()) +
                                            "-" + std::to_string(counter++));
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
    fs::path path;
    static inline int counter = 0;
};

// Runs a shell command; returns its exit code, with standard output in out.
int Shell(const std::string& command, std::string* out = nullptr) {
    TempDir dir("out");
    const int status = std::system((command + " >" + (dir.path / "out").string()).c_str());
    if (out) *out = ReadAll(dir.path / "out");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The program with a home of its own and no XDG folders from the test's environment.
std::string InHome(const fs::path& home, const std::string& env = "") {
    return "env -u XDG_CONFIG_HOME -u XDG_DATA_HOME HOME=" + home.string() + " " + env + " ";
}

// Every file under a folder with its size and modification time.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string what = e.is_regular_file() ? std::to_string(e.file_size()) : "dir";
        what += " " + std::to_string(e.last_write_time().time_since_epoch().count());
        files[fs::relative(e.path(), root).string()] = what;
    }
    return files;
}

// The installation made by the install_into_prefix test (ctest runs it first).
class Installed : public ::testing::Test {
  protected:
    void SetUp() override {
        program = prefix / KORDAVEL_INSTALL_BINDIR / "kordavel";
        data = prefix / KORDAVEL_INSTALL_DATADIR;
        ASSERT_TRUE(fs::exists(program))
            << "no installation in " << prefix << "; run ctest -R install";
        script = scratch.path / "editor.txt";
        WriteAll(script, kEditorScript);
    }
    std::string RunEditor() const {
        return program.string() + " --headless --ticks 40 --script " + script.string();
    }

    const fs::path prefix = INSTALL_PREFIX;
    TempDir scratch{"scratch"};
    fs::path program, data, script;
};

TEST_F(Installed, LaysOutProgramDataMenuEntryIconsAndManPage) {
    for (const char* name : {"tank.grp", "tank.fnt", "tank.snd", "lswap.dat"})
        EXPECT_TRUE(fs::is_regular_file(data / name)) << name;
    // The stock levels only: none that were made in the editor in the build folder.
    const std::string stock = ReadAll(data / "lswap.dat");
    EXPECT_EQ(stock.size() % kdv::kLevelRecordBytes, 0u);
    EXPECT_EQ(ReadAll(fs::path(BUILD_DIR) / "data" / "lswap.dat").substr(0, stock.size()), stock);

    const fs::path share = prefix / "share";
    const std::string desktop =
        ReadAll(share / "applications" / (std::string(kAppId) + ".desktop"));
    EXPECT_NE(desktop.find("\nExec=" + program.filename().string() + "\n"), std::string::npos);
    EXPECT_NE(desktop.find(std::string("\nIcon=") + kAppId + "\n"), std::string::npos);
    const std::string metainfo =
        ReadAll(share / "metainfo" / (std::string(kAppId) + ".metainfo.xml"));
    EXPECT_NE(metainfo.find(std::string(">") + kAppId + ".desktop</launchable>"),
              std::string::npos);
    EXPECT_TRUE(fs::is_regular_file(share / "man" / "man6" / "kordavel.6.gz") ||
                fs::is_regular_file(share / "man" / "man6" / "kordavel.6"));

    // Each icon is as large as the folder it is in says, with an alpha channel.
    int icons = 0;
    for (const auto& e : fs::directory_iterator(share / "icons" / "hicolor")) {
        const std::string png = ReadAll(e.path() / "apps" / (std::string(kAppId) + ".png"));
        ASSERT_GT(png.size(), 26u) << e.path();
        auto be32 = [&](size_t at) {
            return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
                   uint32_t(uint8_t(png[at + 2])) << 8 | uint8_t(png[at + 3]);
        };
        const std::string size = std::to_string(be32(16)) + "x" + std::to_string(be32(20));
        EXPECT_EQ(e.path().filename().string(), size);
        EXPECT_EQ(png[25], 6) << "RGBA";
        ++icons;
    }
    EXPECT_GE(icons, 4);
}

TEST_F(Installed, MenuEntryAndMetainfoPassTheirValidators) {
    const fs::path share = prefix / "share";
    if (Shell("command -v desktop-file-validate") == 0)
        EXPECT_EQ(Shell("desktop-file-validate " +
                        (share / "applications" / (std::string(kAppId) + ".desktop")).string()),
                  0);
    else
        std::cout << "desktop-file-validate is not installed; not checked\n";
    if (Shell("command -v appstreamcli") == 0)
        EXPECT_EQ(Shell("appstreamcli validate --no-net --strict " +
                        (share / "metainfo" / (std::string(kAppId) + ".metainfo.xml")).string()),
                  0);
    else
        std::cout << "appstreamcli is not installed; not checked\n";
}

TEST_F(Installed, PlayersFilesGoToTheHomeAndNothingIsWrittenUnderThePrefix) {
    TempDir home("home");
    const auto before = Snapshot(prefix);
    ASSERT_EQ(Shell(InHome(home.path) + RunEditor()), 0);
    ASSERT_EQ(Shell(InHome(home.path) + RunEditor()), 0);
    EXPECT_EQ(Snapshot(prefix), before);

    EXPECT_NE(ReadAll(home.path / ".config/kordavel/kordavel.ini").find("[Options]"),
              std::string::npos);
    const std::string stock = ReadAll(data / "lswap.dat");
    const std::string own = ReadAll(home.path / ".local/share/kordavel/lswap.dat");
    ASSERT_EQ(own.size(), stock.size() + 2 * kdv::kLevelRecordBytes);
    EXPECT_EQ(own.substr(0, stock.size()), stock);

    // The same script appends the same record to a copy of the stock data under --root.
    TempDir root("root");
    fs::copy(data, root.path / "data");
    ASSERT_EQ(Shell(InHome(home.path) + RunEditor() + " --root " + root.path.string()), 0);
    const std::string rooted = ReadAll(root.path / "data" / "lswap.dat");
    ASSERT_EQ(rooted.size(), stock.size() + kdv::kLevelRecordBytes);
    EXPECT_EQ(own.substr(stock.size(), kdv::kLevelRecordBytes), rooted.substr(stock.size()));
    EXPECT_TRUE(fs::exists(root.path / "kordavel.ini"));
}

TEST_F(Installed, PathsNamesTheFoldersTheGameUses) {
    TempDir home("home");
    std::string out;
    ASSERT_EQ(Shell(InHome(home.path, "XDG_CONFIG_HOME=/nowhere/cfg XDG_DATA_HOME=rel") +
                        program.string() + " --paths",
                    &out),
              0);
    EXPECT_NE(out.find("/nowhere/cfg/kordavel/kordavel.ini\n"), std::string::npos) << out;
    // A relative XDG folder is ignored.
    EXPECT_NE(out.find((home.path / ".local/share/kordavel/lswap.dat\n").string()),
              std::string::npos)
        << out;
    EXPECT_NE(out.find((fs::canonical(data) / "tank.grp\n").string()), std::string::npos) << out;
    EXPECT_TRUE(fs::is_empty(home.path)) << "--paths writes nothing";

    TempDir root("root");
    ASSERT_EQ(Shell(InHome(home.path) + program.string() + " --paths --root " + root.path.string(),
                    &out),
              0);
    EXPECT_NE(out.find((root.path / "kordavel.ini\n").string()), std::string::npos) << out;
    EXPECT_NE(out.find((root.path / "data/lswap.dat\n").string()), std::string::npos) << out;
    // A root that is not a folder is a mistake on the command line, not a place to write.
    EXPECT_EQ(Shell(InHome(home.path) + program.string() + " --paths --root /some/where", &out), 2);
}

TEST_F(Installed, CopyWithItsOwnDataBesideItIsPortable) {
    TempDir copy("portable"), home("home");
    fs::copy(program, copy.path / "kordavel");
    fs::copy(data, copy.path / "data");
    ASSERT_EQ(Shell(InHome(home.path) + (copy.path / "kordavel").string() +
                    " --headless --ticks 40 --script " + script.string()),
              0);
    EXPECT_TRUE(fs::exists(copy.path / "kordavel.ini"));
    EXPECT_EQ(fs::file_size(copy.path / "data" / "lswap.dat"),
              fs::file_size(data / "lswap.dat") + kdv::kLevelRecordBytes);
    EXPECT_TRUE(fs::is_empty(home.path));

    if (::geteuid() == 0) GTEST_SKIP() << "root writes into any folder";
    // Not writable: the data is still read from beside it, the player's files go home.
    fs::permissions(copy.path, fs::perms::owner_write, fs::perm_options::remove);
    std::string out;
    ASSERT_EQ(Shell(InHome(home.path) + (copy.path / "kordavel").string() + " --paths", &out), 0);
    EXPECT_NE(out.find((copy.path / "data" / "tank.grp\n").string()), std::string::npos) << out;
    EXPECT_NE(out.find((home.path / ".config/kordavel/kordavel.ini\n").string()), std::string::npos)
        << out;
}

// The player's level file beside a stock one, outside any installation.
class PlayerLevels : public ::testing::Test {
  protected:
    void SetUp() override {
        env.programFolder = top.path / "games";
        env.home = (top.path / "home").string();
        fs::create_directories(env.programFolder);
        fs::create_directories(env.programFolder / KORDAVEL_DATA_FROM_PROGRAM);
        std::string error;
        auto found = app::FindPaths({}, env, error);
        ASSERT_TRUE(found) << error;
        paths = *found;
        ASSERT_EQ(paths.layout, app::Layout::Installed);
        stock = Stage(3);
        WriteStock(stock);
    }
    // Records whose maps differ by their first byte.
    static std::string Stage(int records, uint8_t first = 0) {
        std::vector<testkit::LevelRecord> r(size_t(records), testkit::DefaultLevel());
        for (int i = 0; i < records; ++i) r[size_t(i)].map[0] = uint8_t(first + i);
        const Bytes b = testkit::EncodeLevels(r);
        return std::string(b.begin(), b.end());
    }
    void WriteStock(const std::string& bytes) { WriteAll(paths.StockLevelFile(), bytes); }
    void Prepare() {
        std::string error;
        EXPECT_TRUE(app::PreparePlayerFiles(paths, error)) << error;
    }
    std::string Levels() const { return ReadAll(paths.levelFile); }

    TempDir top{"levels"};
    app::PathEnvironment env;
    app::GamePaths paths;
    std::string stock;
};

TEST_F(PlayerLevels, StockUpdatesReplaceStockRecordsAndKeepThePlayersOwn) {
    Prepare();
    EXPECT_EQ(Levels(), stock);
    const std::string own = Stage(2, 100);
    std::ofstream(paths.levelFile, std::ios::app | std::ios::binary) << own;
    const auto stamp = fs::last_write_time(paths.levelFile);
    Prepare();
    EXPECT_EQ(fs::last_write_time(paths.levelFile), stamp) << "an up-to-date copy is left alone";

    const std::string grown = Stage(4, 50);  // every stock record changed, and one more
    WriteStock(grown);
    Prepare();
    EXPECT_EQ(Levels(), grown + own);

    const std::string shrunk = Stage(2, 70);
    WriteStock(shrunk);
    Prepare();
    EXPECT_EQ(Levels(), shrunk + own);

    // The count of stock records lost after the levels were written: put right, not merged
    // again.
    WriteStock(grown);
    Prepare();
    WriteAll(paths.StockCountFile(), "2\n");
    Prepare();
    EXPECT_EQ(Levels(), grown + own);
}

TEST_F(PlayerLevels, UnwritableHomeLeavesTheStockLevelsToPlayWith) {
    WriteAll(top.path / "file", "");
    env.dataHome = (top.path / "file").string();  // a folder cannot be made inside a file
    std::string error;
    auto found = app::FindPaths({}, env, error);
    ASSERT_TRUE(found);
    EXPECT_FALSE(app::PreparePlayerFiles(*found, error));
    EXPECT_NE(error.find(env.dataHome), std::string::npos) << error;
    EXPECT_EQ(found->levelFile, paths.StockLevelFile());
}

TEST(Paths, WithoutAHomeTheGameSaysWhatToDo) {
    TempDir top("paths");
    app::PathEnvironment env;
    env.programFolder = top.path;
    std::string error;
    EXPECT_FALSE(app::FindPaths({}, env, error));
    EXPECT_NE(error.find("--root"), std::string::npos) << error;
    EXPECT_TRUE(app::FindPaths("/r", env, error));
}

}  // namespace
