// Compiles assets/font into the game's 8 x 8 bitmap font.
#include <array>
#include <cstdio>

#include "assetc/assetc.h"
#include "assetc/grid_text.h"

namespace {

using assetc::SourceError;
using assetc::SourceReader;

constexpr int kCell = 8;
constexpr int kFileSize = 2 + 256 * kCell + 2;

// A glyph token is one character standing for itself ("A", "#", "7"), a quoted character
// ("'x'") or a character code of two or more digits ("24", "032").
int GlyphCode(const SourceReader& in, const std::string& token) {
    if (token.size() == 1) return static_cast<unsigned char>(token[0]);
    if (token.size() == 3 && token[0] == '\'' && token[2] == '\'')
        return static_cast<unsigned char>(token[1]);
    return assetc::ParseNumber(in, token, 0, 255, "a glyph (one character or a code)");
}

std::string Describe(int code) {
    if (code > 32 && code < 127) return std::string("glyph '") + static_cast<char>(code) + "'";
    return "glyph " + std::to_string(code);
}

// "glyphs T1 T2 ..." is followed by 8 rows; each row holds one segment per glyph, separated
// by blanks, of 1 to 8 characters: '#' ink, '.' none. Columns a segment leaves out are blank.
void ReadFont(const std::string& path, std::array<uint8_t, 256 * kCell>& glyphs) {
    SourceReader in(path);
    std::array<int, 256> givenOn{};
    std::string text;
    while (in.NextStatement(text)) {
        std::vector<std::string> w = assetc::SplitWords(text);
        if (w[0] != "glyphs" || w.size() < 2)
            in.Fail("expected \"glyphs\" and the characters drawn below, not \"" + text + "\"");
        int header = in.line();
        std::vector<int> codes;
        for (size_t i = 1; i < w.size(); ++i) {
            int code = GlyphCode(in, w[i]);
            if (givenOn[code])
                in.Fail(Describe(code) + " is already given on line " +
                        std::to_string(givenOn[code]));
            givenOn[code] = header;
            codes.push_back(code);
        }
        for (int r = 0; r < kCell; ++r) {
            std::string row = in.NextRow("row " + std::to_string(r + 1) +
                                         " of the glyphs of line " + std::to_string(header));
            std::vector<std::string> seg = assetc::SplitWords(row);
            if (seg.size() != codes.size())
                in.Fail("row " + std::to_string(r + 1) + " has " + std::to_string(seg.size()) +
                        " segments for the " + std::to_string(codes.size()) +
                        " glyphs named on line " + std::to_string(header));
            for (size_t g = 0; g < codes.size(); ++g) {
                if (seg[g].size() > kCell)
                    in.Fail("row " + std::to_string(r + 1) + " of " + Describe(codes[g]) +
                            " is wider than 8");
                uint8_t bits = 0;
                for (size_t x = 0; x < seg[g].size(); ++x) {
                    char c = seg[g][x];
                    if (c != '#' && c != '.')
                        in.Fail("'" + std::string(1, c) + "' in " + Describe(codes[g]) +
                                ": glyph rows use '#' for ink and '.' for none");
                    if (c == '#') bits |= static_cast<uint8_t>(0x80 >> x);  // bit 7 = column 0
                }
                glyphs[codes[g] * kCell + r] = bits;
            }
        }
    }
}

}  // namespace

int BuildFont(const std::string& sourceDir, const std::string& outFile) {
    try {
        std::array<uint8_t, 256 * kCell> glyphs{};
        ReadFont(sourceDir + "/font.txt", glyphs);
        std::vector<uint8_t> out(kFileSize, 0);
        out[0] = kCell;  // width
        out[1] = kCell;  // height
        std::copy(glyphs.begin(), glyphs.end(), out.begin() + 2);
        // The last two bytes stay zero: the loader reads the glyph block plus two.
        if (!assetc::WriteBinaryFile(outFile, out)) {
            std::fprintf(stderr, "assetc: %s cannot be written\n", outFile.c_str());
            return 1;
        }
        return 0;
    } catch (const SourceError& e) {
        std::fprintf(stderr, "assetc: %s\n", e.what());
        return 1;
    }
}
