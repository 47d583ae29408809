// Lint of the level file: the design rules every stock map and line-up keeps, and the level
// compiler's handling of its sources and of records the level editor appended.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kColumns = 13, kRows = 12, kRecordSize = 176, kStockRecords = 36;
const std::string kTileChars = ".H#S_][-^=}{*~";  // the sources' legend, by tile code
const fs::path kLevelFile = fs::path(KORDAVEL_DATA_DIR) / "lswap.dat";
const fs::path kAssetc = fs::path(KORDAVEL_DATA_DIR) / ".." / "tools" / "assetc";
const fs::path kSources = fs::path(__FILE__).parent_path() / ".." / ".." / "assets" / "levels";

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const fs::path& path) {
    std::ostringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
}

struct Record {
    const uint8_t* bytes;
    int Tile(int c, int r) const { return bytes[c * kRows + r]; }
    int Entry(int n) const { return bytes[kColumns * kRows + n - 1]; }  // line-up entry 1..20
    std::string Picture() const {  // the map as its source draws it, for failure messages
        std::string text = "\n";
        for (int r = 0; r < kRows; ++r) {
            for (int c = 0; c < kColumns; ++c)
                text += Tile(c, r) < int(kTileChars.size()) ? kTileChars[Tile(c, r)] : '?';
            text += '\n';
        }
        return text;
    }
};

class Levels : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { file_ = ReadBytes(kLevelFile); }
    void SetUp() override {
        ASSERT_GE(file_.size(), size_t(kStockRecords * kRecordSize)) << kLevelFile;
    }
    Record At(int n) const { return Record{file_.data() + n * kRecordSize}; }
    static std::vector<uint8_t> file_;
};
std::vector<uint8_t> Levels::file_;

// Tanks shoot brick away, so brick and foliage count as ways through; steel, rock and water
// do not.
bool ReachesBase(const Record& map, int c0, int r0) {
    auto open = [&](int c, int r) {
        const int t = map.Tile(c, r);
        return t == 0 || t == 12 || t == 2 || t == 7 || (t >= 4 && t <= 6);
    };
    std::vector<std::pair<int, int>> todo{{c0, r0}};
    std::set<std::pair<int, int>> seen{{c0, r0}};
    while (!todo.empty()) {
        auto [c, r] = todo.back();
        todo.pop_back();
        if ((r == 11 && (c == 5 || c == 7)) || (r == 10 && c >= 5 && c <= 7)) return true;
        for (auto [dc, dr] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
            const int nc = c + dc, nr = r + dr;
            if (nc < 0 || nc >= kColumns || nr < 0 || nr >= kRows || !open(nc, nr)) continue;
            if (seen.insert({nc, nr}).second) todo.push_back({nc, nr});
        }
    }
    return false;
}

int CountTiles(const Record& map, int code) {
    int n = 0;
    for (int i = 0; i < kColumns * kRows; ++i) n += map.bytes[i] == code;
    return n;
}

}  // namespace

TEST_F(Levels, FileHoldsWholeRecords) {
    EXPECT_EQ(file_.size() % kRecordSize, 0u);
}

TEST_F(Levels, EveryMapKeepsTheBaseLayoutAndFreeEntryCells) {
    for (int n = 0; n < kStockRecords; ++n) {
        const Record map = At(n);
        SCOPED_TRACE("record " + std::to_string(n) + map.Picture());
        for (int i = 0; i < kColumns * kRows; ++i) EXPECT_LE(map.bytes[i], 13) << "cell " << i;
        EXPECT_EQ(map.Tile(6, 11), 1);
        EXPECT_EQ(map.Tile(5, 11), 5);
        EXPECT_EQ(map.Tile(7, 11), 6);
        for (int c : {5, 6, 7}) EXPECT_EQ(map.Tile(c, 10), 4) << "column " << c;
        EXPECT_EQ(CountTiles(map, 1), 1) << "one base only";
        for (auto [c, r] : {std::pair{4, 11}, {8, 11}, {0, 0}, {6, 0}, {12, 0}}) {
            EXPECT_TRUE(map.Tile(c, r) == 0 || map.Tile(c, r) == 12) << c << "," << r;
            EXPECT_TRUE(ReachesBase(map, c, r)) << "no way to the base from " << c << "," << r;
        }
    }
}

TEST_F(Levels, LineupsAreValidAndGetHarder) {
    // How hard a tank is: fast and armoured ones count most.
    auto threat = [&](int n) {
        static constexpr double kThreat[4] = {0, 2, 1, 3};
        double sum = 0;
        for (int e = 1; e <= 20; ++e) sum += kThreat[At(n).Entry(e) % 4];
        return sum;
    };
    double thirds[3] = {};
    for (int n = 0; n < kStockRecords; ++n) {
        int carriers = 0;
        for (int e = 1; e <= 20; ++e) {
            EXPECT_LE(At(n).Entry(e), 7) << "record " << n << " entry " << e;
            carriers += At(n).Entry(e) >= 4;
        }
        if (n > 0) {
            EXPECT_GE(carriers, 2) << "stage " << n;
            thirds[(n - 1) * 3 / 35] += threat(n);
        }
    }
    EXPECT_LT(thirds[0] / 12, thirds[1] / 12);
    EXPECT_LT(thirds[1] / 12, thirds[2] / 11);
    EXPECT_LT(threat(1), threat(35));
}

TEST_F(Levels, MapsAreDistinctAndUseEveryKindOfTerrain) {
    std::set<std::vector<uint8_t>> maps;
    for (int n = 0; n < kStockRecords; ++n)
        maps.insert(std::vector<uint8_t>(At(n).bytes, At(n).bytes + kColumns * kRows));
    EXPECT_EQ(maps.size(), size_t(kStockRecords)) << "two records share a map";
    for (int code : {2, 3, 7, 8, 12, 13}) {
        int stages = 0;
        for (int n = 1; n < kStockRecords; ++n) stages += CountTiles(At(n), code) > 0;
        EXPECT_GE(stages, 3) << "tile " << code << " is hardly used";
    }
}

TEST_F(Levels, DemonstrationMapLeavesTheTitleRowsOpen) {
    const Record demo = At(0);
    int open = 0;
    for (int r = 3; r <= 6; ++r)
        for (int c = 0; c < kColumns; ++c) open += demo.Tile(c, r) == 0 || demo.Tile(c, r) == 12;
    EXPECT_GE(open, 4 * kColumns * 8 / 10) << demo.Picture();
    EXPECT_GE(CountTiles(demo, 2), 12) << "something to shoot at";
}

// The compiler, run on copies of the sources in a scratch folder.
class LevelCompiler : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("kordavel-levels-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_ / "src");
        for (const auto& e : fs::directory_iterator(kSources)) fs::copy(e.path(), dir_ / "src");
    }
    void TearDown() override { fs::remove_all(dir_); }
    int Run(const fs::path& out) {
        const std::string cmd = kAssetc.string() + " levels '" + (dir_ / "src").string() + "' '" +
                                out.string() + "' >/dev/null 2>'" + (dir_ / "err").string() + "'";
        return std::system(cmd.c_str());
    }
    std::string Errors() { return ReadText(dir_ / "err"); }
    fs::path dir_;
};

TEST_F(LevelCompiler, RebuildKeepsRecordsTheEditorAppended) {
    const fs::path out = dir_ / "lswap.dat";
    ASSERT_EQ(Run(out), 0) << Errors();
    ASSERT_EQ(fs::file_size(out), uintmax_t(kStockRecords * kRecordSize));
    // Two records as the editor writes them, then a stock stage that changed.
    std::vector<uint8_t> edited(2 * kRecordSize);
    for (size_t i = 0; i < edited.size(); ++i) edited[i] = uint8_t(i * 7 % 14);
    std::ofstream(out, std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(edited.data()), std::streamsize(edited.size()));
    const fs::path stage2 = dir_ / "src" / "stage-02.txt";
    std::string text = ReadText(stage2);
    text.replace(text.find("\n.............\n") + 1, 13, "SSSSS...SSSSS");
    std::ofstream(stage2, std::ios::trunc) << text;
    ASSERT_EQ(Run(out), 0) << Errors();
    const std::vector<uint8_t> rebuilt = ReadBytes(out);
    ASSERT_EQ(rebuilt.size(), size_t((kStockRecords + 2) * kRecordSize));
    EXPECT_TRUE(std::equal(edited.begin(), edited.end(), rebuilt.end() - edited.size()));
    EXPECT_EQ(rebuilt[2 * kRecordSize + 0 * kRows + 0], 3) << "stage 2 was not rebuilt";
}

TEST_F(LevelCompiler, SourcesAndRecordsAgree) {
    // Each map row and the arrival order read back from the built file as written.
    const std::vector<uint8_t> file = ReadBytes(kLevelFile);
    ASSERT_GE(file.size(), size_t(kStockRecords * kRecordSize));
    for (const auto& e : fs::directory_iterator(kSources)) {
        std::ifstream in(e.path());
        std::string line, tanks;
        std::vector<std::string> rows;
        int number = -1;
        while (std::getline(in, line)) {
            if (line.rfind("stage ", 0) == 0) number = std::stoi(line.substr(6));
            if (line == "map")
                for (int r = 0; r < kRows && std::getline(in, line); ++r) rows.push_back(line);
            if (line.rfind("tanks ", 0) == 0)
                for (char c : line.substr(6))
                    if (c != ' ') tanks += c;
        }
        ASSERT_TRUE(number >= 0 && number < kStockRecords) << e.path();
        const Record map{file.data() + number * kRecordSize};
        std::string picture;
        for (const auto& row : rows) picture += "\n" + row;
        EXPECT_EQ(map.Picture(), picture + "\n") << e.path();
        ASSERT_EQ(tanks.size(), 20u) << e.path();
        for (int i = 0; i < 20; ++i)  // the first to arrive is entry 20
            EXPECT_EQ(std::string("bfgaBFGA")[map.Entry(20 - i)], tanks[i]) << e.path();
    }
}

TEST_F(LevelCompiler, BadSourcesNameFileAndLine) {
    struct Case {
        const char* from;
        const char* to;
        const char* expect;
    };
    const Case cases[] = {
        {"\n.#.#.#S#.#.#.\n", "\n.#.#.#S#.#.#\n", "stage-01.txt:10: map row 3 has 12 characters"},
        {"\n.#.#.#S#.#.#.\n", "\n.#.#.#Q#.#.#.\n", "stage-01.txt:10: unknown map character 'Q'"},
        {"tanks bbbbb", "tanks bbxbb", "stage-01.txt:21: unknown tank 'x'"},
        {"tanks bbbbb", "tanks bbbb", "stage-01.txt:21: the stage has 19 tanks"},
        {"\n...S.]H[.S...\n", "\n", "stage-01.txt:18: the map has only 11 rows"},
        {"stage 1\n", "stage 36\n", "stage-01.txt:3: stage number '36' is not 0..35"},
    };
    const fs::path source = dir_ / "src" / "stage-01.txt";
    const std::string good = ReadText(source);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expect);
        std::string bad = good;
        ASSERT_NE(bad.find(c.from), std::string::npos);
        bad.replace(bad.find(c.from), std::string(c.from).size(), c.to);
        std::ofstream(source, std::ios::trunc) << bad;
        EXPECT_NE(Run(dir_ / "out.dat"), 0);
        EXPECT_NE(Errors().find(c.expect), std::string::npos) << Errors();
    }
    std::ofstream(source, std::ios::trunc) << good;
    fs::remove(dir_ / "src" / "stage-12.txt");
    EXPECT_NE(Run(dir_ / "out.dat"), 0);
    EXPECT_NE(Errors().find("no source defines stage 12"), std::string::npos) << Errors();
    EXPECT_FALSE(fs::exists(dir_ / "out.dat")) << "nothing is written from bad sources";
}
