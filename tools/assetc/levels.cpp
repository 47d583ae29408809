// Builds the level file: one readable source per stage under assets/levels (a 13 × 12 picture
// of the map and the order in which the computer tanks arrive) becomes one 176-byte record.
// Records that the level editor appended to an existing file are kept after the stock ones, and
// lswap.stock beside the file counts the stock records.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "assetc/assetc.h"
#include "assetc/grid_text.h"

namespace fs = std::filesystem;

namespace {

constexpr int kColumns = 13;
constexpr int kRows = 12;
constexpr int kLineupSize = 20;
constexpr int kRecordSize = kColumns * kRows + kLineupSize;
constexpr int kStockRecords = 36;  // the demonstration's map and stages 1..35

// Map characters by tile code 0..13.
constexpr std::string_view kTileChars = ".H#S_][-^=}{*~";
// Tank letters by kind 0..7; upper case marks the bonus carriers.
constexpr std::string_view kKindChars = "bfgaBFGA";

using Record = std::array<uint8_t, kRecordSize>;

struct SourceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct StageSource {
    int number = -1;
    std::string file;
    Record record{};
};

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
    return s;
}

class Parser {
  public:
    explicit Parser(std::string file) : file_(std::move(file)) {}

    [[noreturn]] void Fail(const std::string& message) const {
        throw SourceError(file_ + ":" + std::to_string(line_) + ": " + message);
    }

    StageSource Parse(std::istream& in) {
        StageSource stage;
        stage.file = file_;
        bool haveMap = false;
        int tanks = 0;
        std::string text;
        while (std::getline(in, text)) {
            ++line_;
            if (auto semi = text.find(';'); semi != std::string::npos) text.erase(semi);
            const std::vector<std::string> w = assetc::SplitWords(text);
            if (w.empty()) continue;
            const std::string& key = w[0];
            if (stage.number < 0 && key != "stage") Fail("the file must begin with 'stage NUMBER'");
            if (key == "stage") {
                if (stage.number >= 0) Fail("a second 'stage' line");
                if (w.size() != 2) Fail("expected 'stage NUMBER' (0 is the demonstration's map)");
                stage.number = StageNumber(w[1]);
            } else if (key == "name") {
                // For the reader and the docs only; the record has no room for it.
            } else if (key == "map") {
                if (haveMap) Fail("a second 'map'");
                if (w.size() != 1) Fail("'map' stands alone; the 12 rows follow on the next lines");
                ReadMap(in, stage.record);
                haveMap = true;
            } else if (key == "tanks") {
                for (size_t i = 1; i < w.size(); ++i) {
                    for (char c : w[i]) {
                        const size_t kind = kKindChars.find(c);
                        if (kind == std::string_view::npos)
                            Fail(std::string("unknown tank '") + c +
                                 "' (b basic, f fast, g gun, a armoured; capitals carry a bonus)");
                        if (tanks == kLineupSize) Fail("more than 20 tanks");
                        // Tanks are sent from entry 20 down to entry 1: the first to arrive is
                        // the last byte of the record.
                        stage.record[kRecordSize - 1 - tanks] = static_cast<uint8_t>(kind);
                        ++tanks;
                    }
                }
            } else if (IsMapRow(text)) {
                Fail("a map row outside the map (a map has exactly 12 rows)");
            } else {
                Fail("unknown word '" + key + "'");
            }
        }
        if (stage.number < 0) Fail("no 'stage NUMBER' line");
        if (!haveMap) Fail("no 'map'");
        if (tanks != kLineupSize)
            Fail("the stage has " + std::to_string(tanks) + " tanks; it needs 20");
        return stage;
    }

  private:
    int StageNumber(const std::string& token) const {
        int n = -1;
        if (!token.empty() && token.size() <= 2 &&
            std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; }))
            n = std::stoi(token);
        if (n < 0 || n >= kStockRecords) Fail("stage number '" + token + "' is not 0..35");
        return n;
    }

    static bool IsMapRow(const std::string& text) {
        const std::string row = Trimmed(text);
        return row.size() == kColumns && row.find_first_not_of(kTileChars) == std::string::npos;
    }

    void ReadMap(std::istream& in, Record& record) {
        for (int r = 0; r < kRows; ++r) {
            std::string text;
            if (!std::getline(in, text))
                Fail("the map ends after " + std::to_string(r) + " rows; it needs 12");
            ++line_;
            const std::string row = Trimmed(text);
            if (row.size() != kColumns) {
                std::istringstream words(row);
                std::string first;
                words >> first;
                if (first.empty() || first == "tanks" || first == "name" || first[0] == ';')
                    Fail("the map has only " + std::to_string(r) + " rows; it needs 12");
                Fail("map row " + std::to_string(r) + " has " + std::to_string(row.size()) +
                     " characters; it needs 13");
            }
            for (int c = 0; c < kColumns; ++c) {
                const size_t code = kTileChars.find(row[c]);
                if (code == std::string_view::npos)
                    Fail(std::string("unknown map character '") + row[c] + "' in column " +
                         std::to_string(c));
                record[c * kRows + r] = static_cast<uint8_t>(code);
            }
        }
    }

    std::string file_;
    int line_ = 0;
};

std::vector<char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int BuildLevels(const std::string& sourceDir, const std::string& outFile) {
    try {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(sourceDir))
            if (entry.is_regular_file() && entry.path().extension() == ".txt")
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());

        std::map<int, StageSource> stages;
        for (const auto& path : files) {
            std::ifstream in(path);
            if (!in) throw SourceError(path.string() + ": cannot be read");
            StageSource stage = Parser(path.string()).Parse(in);
            if (auto it = stages.find(stage.number); it != stages.end())
                throw SourceError(path.string() + ": stage " + std::to_string(stage.number) +
                                  " is already defined in " + it->second.file);
            stages.emplace(stage.number, std::move(stage));
        }

        std::vector<char> out;
        for (int n = 0; n < kStockRecords; ++n) {
            auto it = stages.find(n);
            if (it == stages.end())
                throw SourceError(
                    sourceDir + ": no source defines " +
                    (n ? "stage " + std::to_string(n) : "stage 0 (the demonstration)"));
            out.insert(out.end(), it->second.record.begin(), it->second.record.end());
        }

        // Whatever lies past the stock records was added by the level editor: keep it as it is.
        const std::vector<char> old = ReadAll(outFile);
        if (old.size() > out.size()) {
            const size_t kept = old.size() - out.size();
            out.insert(out.end(), old.begin() + static_cast<std::ptrdiff_t>(out.size()), old.end());
            std::printf("assetc: kept %zu appended record(s) of %s\n", kept / kRecordSize,
                        outFile.c_str());
        }

        if (!assetc::WriteBinaryFile(outFile, std::vector<uint8_t>(out.begin(), out.end())))
            throw SourceError(outFile + ": cannot be written");
        // Beside it, how many records at its start are the stock ones: the game marks the stages
        // after them as the player's own.
        const std::string countFile = fs::path(outFile).replace_extension(".stock").string();
        const std::string count = std::to_string(kStockRecords) + "\n";
        if (!assetc::WriteBinaryFile(countFile, std::vector<uint8_t>(count.begin(), count.end())))
            throw SourceError(countFile + ": cannot be written");
        return 0;
    } catch (const SourceError& e) {
        std::fprintf(stderr, "assetc: %s\n", e.what());
    } catch (const fs::filesystem_error& e) {
        std::fprintf(stderr, "assetc: %s\n", e.what());
    }
    return 1;
}
