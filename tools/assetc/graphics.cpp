// Compiles assets/graphics into the graphics pack: title picture, palette and the 94 sprites.
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "assetc/assetc.h"
#include "assetc/grid_text.h"
#include "core/field/map.h"
#include "core/screen/graphics_pack.h"

namespace {

// The files' layouts are the game's own.
using kdv::kGraphicsPackBytes;
using kdv::kPaletteOffset;
using kdv::kSpriteCount;
using kdv::kSpritesOffset;
using kdv::kTitleBytes;
using kdv::kTitleMaxPixels;

using assetc::Legend;
using assetc::SourceError;
using assetc::SourceReader;
using assetc::Span;

constexpr int kSide = 16;

using Sprite = std::array<uint8_t, kSide * kSide>;

// Palette lines: "index R G B name", "a..b R G B name" (all alike) or
// "a..b R G B to R G B name" (a straight ramp from the first colour to the second).
std::array<uint8_t, 768> ReadPalette(const std::string& path) {
    SourceReader in(path);
    std::array<uint8_t, 768> rgb{};
    std::array<int, 256> setOn{};  // line that set each entry, 0 while unset
    std::string text;
    while (in.NextStatement(text)) {
        std::vector<std::string> w = assetc::SplitWords(text);
        if (w.size() < 4) in.Fail("a palette line is an index or a range, then red, green, blue");
        Span span = ParseSpan(in, w[0], 0, 255, "a palette index");
        int from[3], to[3];
        for (int k = 0; k < 3; ++k) {
            from[k] = ParseNumber(in, w[1 + k], 0, 63, "a colour component");
            to[k] = from[k];
        }
        if (w.size() > 4 && w[4] == "to") {
            if (w.size() < 8) in.Fail("a ramp reads \"a..b R G B to R G B\"");
            if (span.first == span.last) in.Fail("a ramp needs a range of indices");
            for (int k = 0; k < 3; ++k)
                to[k] = ParseNumber(in, w[5 + k], 0, 63, "a colour component");
        }
        int steps = span.last - span.first;
        for (int i = span.first; i <= span.last; ++i) {
            if (setOn[i])
                in.Fail("colour " + std::to_string(i) + " is already set on line " +
                        std::to_string(setOn[i]));
            setOn[i] = in.line();
            for (int k = 0; k < 3; ++k) {
                int t = i - span.first;
                // Rounded to the nearest value; both ends of a ramp come out exact.
                int v = steps ? (from[k] * (steps - t) + to[k] * t + steps / 2) / steps : from[k];
                rgb[i * 3 + k] = static_cast<uint8_t>(v);
            }
        }
    }
    std::string missing;
    int count = 0;
    for (int i = 0; i < 256; ++i)
        // Appended in two steps: GCC 12 at -O3 warns falsely about " " + string.
        if (!setOn[i] && count++ < 8) (missing += ' ') += std::to_string(i);
    if (count)
        in.FailAt(0, "colours not set (" + std::to_string(count) + " of 256):" + missing +
                         (count > 8 ? " ..." : ""));
    return rgb;
}

struct Title {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// A legend block, then "title WIDTH HEIGHT" and its rows.
Title ReadTitle(const std::string& path) {
    SourceReader in(path);
    Legend legend;
    std::optional<Title> title;
    std::string text;
    while (in.NextStatement(text)) {
        std::vector<std::string> w = assetc::SplitWords(text);
        if (w[0] == "legend" && w.size() == 1) {
            legend.Parse(in);
        } else if (w[0] == "title" && w.size() == 3) {
            if (title) in.Fail("the title picture is given twice");
            if (legend.empty()) in.Fail("the title picture comes before any legend");
            Title t;
            t.width = ParseNumber(in, w[1], 1, 320, "the title's width");
            t.height = ParseNumber(in, w[2], 1, 200, "the title's height");
            if (t.width * t.height > kTitleMaxPixels)
                in.Fail("the title picture has " + std::to_string(t.width * t.height) +
                        " pixels; the pack holds at most " + std::to_string(kTitleMaxPixels));
            legend.ReadPicture(in, t.width, t.height, "the title picture", t.pixels);
            title = std::move(t);
        } else {
            in.Fail("expected \"legend\" or \"title WIDTH HEIGHT\", not \"" + text + "\"");
        }
    }
    if (!title) in.FailAt(0, "there is no title picture");
    return *title;
}

Sprite Transform(const Sprite& s, auto&& source) {
    Sprite out;
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) out[y * kSide + x] = s[source(x, y)];
    return out;
}

int At(int x, int y) {
    return y * kSide + x;
}

// Applies the operations of a derived sprite, left to right, starting at word `i`.
Sprite Derive(SourceReader& in, Sprite s, const std::vector<std::string>& w, size_t i) {
    constexpr int e = kSide - 1;
    while (i < w.size()) {
        const std::string& op = w[i++];
        if (op == "turn-left") {  // counter-clockwise: the top row becomes the left column
            s = Transform(s, [](int x, int y) { return At(e - y, x); });
        } else if (op == "turn-right") {
            s = Transform(s, [](int x, int y) { return At(y, e - x); });
        } else if (op == "turn-around") {
            s = Transform(s, [](int x, int y) { return At(e - x, e - y); });
        } else if (op == "mirror") {
            s = Transform(s, [](int x, int y) { return At(e - x, y); });
        } else if (op == "flip") {
            s = Transform(s, [](int x, int y) { return At(x, e - y); });
        } else if (op == "roll" || op == "clip") {
            if (i + 2 > w.size())
                in.Fail(op + " needs columns and rows, e.g. " + op + " 0..3 1..14");
            Span cols = ParseSpan(in, w[i++], 0, e, "a column");
            Span rows = ParseSpan(in, w[i++], 0, e, "a row");
            Sprite old = s;
            for (int y = 0; y < kSide; ++y)
                for (int x = 0; x < kSide; ++x) {
                    bool inside =
                        x >= cols.first && x <= cols.last && y >= rows.first && y <= rows.last;
                    if (op == "clip") {
                        if (!inside) s[At(x, y)] = 255;
                    } else if (inside) {
                        // Treads move by one link: every row takes the one above it, the
                        // first row takes the last.
                        int from = y == rows.first ? rows.last : y - 1;
                        s[At(x, y)] = old[At(x, from)];
                    }
                }
        } else {
            in.Fail("unknown operation \"" + op +
                    "\" (turn-left, turn-right, turn-around, mirror, flip, roll, clip)");
        }
    }
    return s;
}

// A sprite file holds legend blocks, drawn sprites ("sprite N description" and 16 rows) and
// derived ones ("sprite N = M operation..."). A legend holds until the next one.
void ReadSprites(const std::string& path, std::array<std::optional<Sprite>, kSpriteCount>& sheet,
                 std::array<std::string, kSpriteCount>& where) {
    SourceReader in(path);
    Legend legend;
    std::string text;
    while (in.NextStatement(text)) {
        std::vector<std::string> w = assetc::SplitWords(text);
        if (w[0] == "legend" && w.size() == 1) {
            legend.Parse(in);
            continue;
        }
        if (w[0] != "sprite" || w.size() < 2)
            in.Fail("expected \"legend\" or \"sprite N\", not \"" + text + "\"");
        int n = ParseNumber(in, w[1], 0, kSpriteCount - 1, "a sprite number");
        if (sheet[n]) in.Fail("sprite " + std::to_string(n) + " is already given at " + where[n]);
        where[n] = path + ":" + std::to_string(in.line());
        if (w.size() >= 3 && w[2] == "=") {
            if (w.size() < 4)
                in.Fail("sprite " + std::to_string(n) + " = needs the sprite it is made from");
            int m = ParseNumber(in, w[3], 0, kSpriteCount - 1, "a sprite number");
            if (!sheet[m]) in.Fail("sprite " + std::to_string(m) + " is used before it is given");
            sheet[n] = Derive(in, *sheet[m], w, 4);
        } else {
            if (legend.empty()) in.Fail("sprite " + std::to_string(n) + " comes before any legend");
            std::vector<uint8_t> pixels;
            legend.ReadPicture(in, kSide, kSide, "sprite " + std::to_string(n), pixels);
            Sprite s;
            std::copy(pixels.begin(), pixels.end(), s.begin());
            sheet[n] = s;
        }
    }
}

void PutU16(std::vector<uint8_t>& out, size_t at, int v) {
    out[at] = static_cast<uint8_t>(v & 0xFF);
    out[at + 1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

int BuildGraphics(const std::string& sourceDir, const std::string& outFile) {
    namespace fs = std::filesystem;
    try {
        std::array<uint8_t, 768> palette = ReadPalette(sourceDir + "/palette.txt");
        Title title = ReadTitle(sourceDir + "/title.txt");

        std::vector<std::string> files;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(sourceDir + "/sprites", ec))
            if (entry.is_regular_file() && entry.path().extension() == ".txt")
                files.push_back(entry.path().string());
        if (ec) throw SourceError(sourceDir + "/sprites", 0, "cannot be listed");
        // Name order, so that a derived sprite may use one from an earlier file.
        std::sort(files.begin(), files.end());
        std::array<std::optional<Sprite>, kSpriteCount> sheet;
        std::array<std::string, kSpriteCount> where;
        for (const std::string& f : files) ReadSprites(f, sheet, where);
        std::string missing;
        for (int n = 0; n < kSpriteCount; ++n)
            if (!sheet[n]) (missing += ' ') += std::to_string(n);
        if (!missing.empty())
            throw SourceError(sourceDir + "/sprites", 0, "sprites not given:" + missing);

        std::vector<uint8_t> pack(kGraphicsPackBytes, 0);
        PutU16(pack, 0, title.width);
        PutU16(pack, 2, title.height);
        std::copy(title.pixels.begin(), title.pixels.end(), pack.begin() + 4);
        static_assert(4 + kTitleMaxPixels == kTitleBytes);
        std::copy(palette.begin(), palette.end(), pack.begin() + kPaletteOffset);
        for (int n = 0; n < kSpriteCount; ++n)
            std::copy(sheet[n]->begin(), sheet[n]->end(),
                      pack.begin() + kSpritesOffset + n * kSide * kSide);
        if (!assetc::WriteBinaryFile(outFile, pack)) {
            std::fprintf(stderr, "assetc: %s cannot be written\n", outFile.c_str());
            return 1;
        }
        return 0;
    } catch (const SourceError& e) {
        std::fprintf(stderr, "assetc: %s\n", e.what());
        return 1;
    }
}
