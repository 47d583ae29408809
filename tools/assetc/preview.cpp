// Pictures for checking the art by eye: a contact sheet of the sprites, the title, the font,
// and every record of a level file rendered the way the game paints a stage.
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "assetc/assetc.h"
#include "assetc/grid_text.h"
#include "core/field/map.h"
#include "core/screen/graphics_pack.h"
#include "support/png.h"

namespace {

// The files' layouts are the game's own.
using kdv::kGraphicsPackBytes;
using kdv::kLevelRecordBytes;
using kdv::kPaletteOffset;
using kdv::kSpriteCount;
using kdv::kSpritesOffset;

constexpr int kScreenW = 320;
constexpr int kScreenH = 200;

struct Pack {
    int titleW = 0, titleH = 0;
    std::vector<uint8_t> title;
    std::array<uint8_t, 768> palette{};
    std::vector<uint8_t> sprites;  // 94 × 256

    const uint8_t* Sprite(int n) const { return sprites.data() + n * 256; }
    uint32_t Rgb(int index) const {
        auto c = [&](int k) { return static_cast<uint32_t>(palette[index * 3 + k] * 255 / 63); };
        return c(0) << 16 | c(1) << 8 | c(2);
    }
};

struct Font {
    bool loaded = false;
    std::array<uint8_t, 2048> glyphs{};

    // Rightmost ink column of a glyph, 0 for none; the game spaces text by it.
    int InkWidth(uint8_t c) const {
        int w = 0;
        for (int r = 0; r < 8; ++r)
            for (int i = 7; i >= 0; --i)
                if (glyphs[c * 8 + r] & (0x80 >> i)) {
                    w = std::max(w, i);
                    break;
                }
        return w;
    }
    int Advance(uint8_t c) const {
        int w = InkWidth(c);
        return w ? w + 2 : 6;
    }
    int TextWidth(const std::string& s) const {
        int x = 0;
        for (char c : s) x += Advance(static_cast<uint8_t>(c));
        return x;
    }
};

class Canvas {
  public:
    Canvas(int w, int h, uint32_t colour) : w_(w), h_(h), px_(static_cast<size_t>(w) * h * 3) {
        Fill(0, 0, w, h, colour);
    }
    int width() const { return w_; }
    int height() const { return h_; }
    void Put(int x, int y, uint32_t c) {
        if (x < 0 || y < 0 || x >= w_ || y >= h_) return;
        uint8_t* p = &px_[(static_cast<size_t>(y) * w_ + x) * 3];
        p[0] = static_cast<uint8_t>(c >> 16);
        p[1] = static_cast<uint8_t>(c >> 8);
        p[2] = static_cast<uint8_t>(c);
    }
    void Fill(int x, int y, int w, int h, uint32_t c) {
        for (int j = y; j < y + h; ++j)
            for (int i = x; i < x + w; ++i) Put(i, j, c);
    }
    // Text with the game's spacing, each font pixel a scale × scale block.
    void Text(const Font& font, int x, int y, int scale, uint32_t c, const std::string& s) {
        if (!font.loaded) return;
        for (char ch : s) {
            uint8_t g = static_cast<uint8_t>(ch);
            for (int r = 0; r < 8; ++r)
                for (int i = 0; i < 8; ++i)
                    if (font.glyphs[g * 8 + r] & (0x80 >> i))
                        Fill(x + i * scale, y + r * scale, scale, scale, c);
            x += font.Advance(g) * scale;
        }
    }
    bool Save(const std::string& path) const { return support::WritePng(path, w_, h_, px_); }

  private:
    int w_, h_;
    std::vector<uint8_t> px_;
};

// An indexed 320 × 200 screen drawn with the game's own rules, in drawing coordinates.
class Screen {
  public:
    Screen() : px_(kScreenW * kScreenH + 512, 0) {}
    void FillRect(int x1, int y1, int x2, int y2, uint8_t c) {
        for (int y = std::max(0, y1); y <= std::min(kScreenH - 1, y2); ++y)
            for (int x = std::max(0, x1); x <= std::min(kScreenW - 1, x2); ++x)
                px_[y * kScreenW + x] = c;
    }
    void SunkenFrame(int x1, int y1, int x2, int y2) {
        FillRect(x1, y1, x2, y1, 8);
        FillRect(x2, y1 + 1, x2, y2, 15);
        FillRect(x1, y2, x2, y2, 15);
        FillRect(x1, y1, x1, y2 - 1, 8);
    }
    // 255 is transparent; an offset shifts every other non-zero index, modulo 256.
    void Sprite(const Pack& pack, int x, int y, int n, uint8_t offset) {
        const uint8_t* s = pack.Sprite(n);
        size_t o = static_cast<size_t>(y) * kScreenW + x;
        for (int r = 0; r < 16; ++r, o += kScreenW - 16) {
            for (int i = 0; i < 16; ++i, ++o) {
                uint8_t v = s[r * 16 + i];
                if (v == 255) continue;
                if (offset && v) v = static_cast<uint8_t>(v + offset);
                if (o < px_.size()) px_[o] = v;
            }
        }
    }
    void Text(const Font& font, int x, int y, uint8_t colour, const std::string& s) {
        if (!font.loaded) return;
        for (char ch : s) {
            uint8_t g = static_cast<uint8_t>(ch);
            for (int r = 0; r < 8; ++r)
                for (int i = 0; i < 8; ++i)
                    if ((font.glyphs[g * 8 + r] & (0x80 >> i)) && x + i < kScreenW &&
                        y + r < kScreenH)
                        px_[(y + r) * kScreenW + x + i] = colour;
            x += font.Advance(g);
        }
    }
    // Opaque, every byte copied, as the title is laid on the demonstration's map.
    void Picture(int x, int y, int w, int h, const std::vector<uint8_t>& pixels) {
        for (int r = 0; r < h; ++r)
            for (int i = 0; i < w; ++i) {
                size_t o = static_cast<size_t>(y + r) * kScreenW + x + i;
                if (o < px_.size()) px_[o] = pixels[r * w + i];
            }
    }
    uint8_t At(int x, int y) const { return px_[y * kScreenW + x]; }

  private:
    std::vector<uint8_t> px_;
};

void Blit(Canvas& out, const Pack& pack, const Screen& s, int ox, int oy, int scale) {
    for (int y = 0; y < kScreenH; ++y)
        for (int x = 0; x < kScreenW; ++x)
            out.Fill(ox + x * scale, oy + y * scale, scale, scale, pack.Rgb(s.At(x, y)));
}

// One stage as the game paints it at the start of play: the frame and panels, the map with
// the base recoloured and the cover on top, the first three computer tanks at their arrival
// places, the players at their start points, the rest of the line-up as reserve icons and
// the lives counters. The demonstration (record 0) also has the title laid on its map.
Screen RenderStage(const Pack& pack, const Font& font, const uint8_t* record, bool demo) {
    Screen s;
    s.FillRect(0, 0, 319, 3, 208);
    s.FillRect(0, 196, 319, 199, 208);
    s.FillRect(0, 0, 15, 199, 208);
    s.FillRect(224, 0, 239, 199, 208);
    s.FillRect(303, 0, 319, 199, 208);
    s.FillRect(240, 159, 303, 162, 208);
    s.SunkenFrame(239, 3, 303, 159);
    s.SunkenFrame(239, 162, 303, 196);
    auto cell = [&](int c, int r) { return record[c * 12 + r]; };
    for (int r = 0; r < 12; ++r)
        for (int c = 0; c < 13; ++c) {
            int code = cell(c, r);
            if (code == 0 || code == 12 || code > 13) continue;
            s.Sprite(pack, 16 + 16 * c, 4 + 16 * r, 63 + code, 0);
            if (code == 1) s.Sprite(pack, 16 + 16 * c, 4 + 16 * r, 63 + code, 214);
        }
    if (demo) s.Picture(24, 52, pack.titleW, pack.titleH, pack.title);
    const uint8_t* lineup = record + 156;  // entries 1..20
    // The game reads a kind past 7 by its low three bits.
    auto kindSprite = [](int kind) { return 32 + 8 * (kind % 4); };
    auto kindOffset = [](int kind) { return static_cast<uint8_t>(kind % 8 >= 4 ? 16 : 0); };
    const int places[3] = {16, 112, 208};
    for (int i = 0; i < 3; ++i) {  // entries 20, 19, 18 arrive first, facing down
        int kind = lineup[19 - i];
        s.Sprite(pack, places[i], 4, kindSprite(kind) + 1, kindOffset(kind));
    }
    s.Sprite(pack, 80, 180, 0, 0);
    s.Sprite(pack, 144, 180, 0, 64);
    for (int r = 0; r < 12; ++r)
        for (int c = 0; c < 13; ++c)
            if (cell(c, r) == 12) s.Sprite(pack, 16 + 16 * c, 4 + 16 * r, 75, 0);
    for (int k = 1; k <= 17; ++k) {
        int kind = lineup[k - 1];
        s.Sprite(pack, k % 2 ? 240 : 272, 6 + 17 * ((k - 1) / 2), kindSprite(kind),
                 kindOffset(kind));
    }
    s.Sprite(pack, 240, 164, 0, 0);
    s.Text(font, 260, 168, 15, " X 3");
    s.Sprite(pack, 240, 180, 0, 64);
    s.Text(font, 260, 184, 15, " X 3");
    return s;
}

constexpr uint32_t kSheetBack = 0x2A2D33;
constexpr uint32_t kCheckA = 0x3B3E45;
constexpr uint32_t kCheckB = 0x474A52;
constexpr uint32_t kInk = 0xE8E8E8;
constexpr uint32_t kDim = 0xA0A4AC;

// A sprite enlarged 4 times; transparent pixels show as a checker of two greys.
void PutSprite(Canvas& out, const Pack& pack, int x0, int y0, int n, uint8_t offset) {
    const uint8_t* s = pack.Sprite(n);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            uint8_t v = s[y * 16 + x];
            uint32_t c;
            if (v == 255) {
                c = ((x / 2 + y / 2) & 1) ? kCheckA : kCheckB;
            } else {
                if (offset && v) v = static_cast<uint8_t>(v + offset);
                c = pack.Rgb(v);
            }
            out.Fill(x0 + x * 4, y0 + y * 4, 4, 4, c);
        }
}

bool WriteContactSheet(const Pack& pack, const Font& font, const std::string& path) {
    struct Cell {
        int sprite;
        uint8_t offset;
    };
    struct Row {
        const char* caption;
        std::vector<Cell> cells;
    };
    std::vector<Row> rows;
    const char* captions[12] = {"PLAYER L0", "PLAYER L1",   "PLAYER L2",     "PLAYER L3",
                                "KIND 0",    "KIND 1 FAST", "KIND 2",        "KIND 3 HEAVY",
                                "TILES 1-8", "TILES 9-13",  "BONUS, SHIELD", "BURST, BLAST"};
    for (int r = 0; r < 12; ++r) {
        Row row{captions[r], {}};
        for (int i = 0; i < 8 && r * 8 + i < kSpriteCount; ++i) row.cells.push_back({r * 8 + i, 0});
        rows.push_back(row);
    }
    // The same pictures as play recolours them: player 2, the carriers, the base.
    rows.push_back(
        {"P2, CARRIERS",
         {{0, 64}, {8, 64}, {16, 64}, {24, 64}, {32, 16}, {40, 16}, {48, 16}, {56, 16}}});
    rows.push_back({"BASE IN PLAY", {{64, 214}}});

    const int margin = 24, pitchX = 84, pitchY = 92, captionW = 200, headH = 40;
    Canvas out(margin * 2 + pitchX * 8 + captionW,
               margin + headH + pitchY * static_cast<int>(rows.size()), kSheetBack);
    out.Text(font, margin, margin - 4, 3, kInk, "KORDAVEL SPRITES");
    for (size_t r = 0; r < rows.size(); ++r) {
        int y = margin + headH + static_cast<int>(r) * pitchY;
        for (size_t i = 0; i < rows[r].cells.size(); ++i) {
            const Cell& c = rows[r].cells[i];
            int x = margin + static_cast<int>(i) * pitchX;
            std::string label = std::to_string(c.sprite);
            if (c.offset) label += "+" + std::to_string(c.offset);
            out.Text(font, x, y, 2, kDim, label);
            PutSprite(out, pack, x, y + 20, c.sprite, c.offset);
        }
        out.Text(font, margin + pitchX * 8, y + 44, 2, kInk, rows[r].caption);
    }
    return out.Save(path);
}

bool WriteTitle(const Pack& pack, const std::string& path) {
    const int scale = 3, border = 12;
    Canvas out(pack.titleW * scale + border * 2, pack.titleH * scale + border * 2, pack.Rgb(0));
    for (int y = 0; y < pack.titleH; ++y)
        for (int x = 0; x < pack.titleW; ++x)
            out.Fill(border + x * scale, border + y * scale, scale, scale,
                     pack.Rgb(pack.title[y * pack.titleW + x]));
    return out.Save(path);
}

// Every glyph in a grid, then lines of text as the game spaces them, in its text colours.
bool WriteFontSheet(const Pack& pack, const Font& font, const std::string& path) {
    const int scale = 4, pitch = 8 * scale + 8, margin = 16;
    const char* samples[] = {"KORDAVEL  STAGE 12  GAME OVER  PAUSE",
                             "PLAYER I   12300 PTS   BONUS 1000 PTS",
                             "The quick brown fox jumps over the lazy dog.",
                             "0123456789 !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~",
                             "Next Wall:  Press Space  Put Wall: Press Enter"};
    const int lineH = 12 * 2;
    Canvas out(margin * 2 + 16 * pitch, margin * 3 + 8 * pitch + lineH * 6 + 24, kSheetBack);
    for (int code = 0; code < 128; ++code) {
        int x = margin + (code % 16) * pitch, y = margin + (code / 16) * pitch;
        out.Fill(x - 2, y - 2, 8 * scale + 4, 8 * scale + 4, 0x000000);
        for (int r = 0; r < 8; ++r)
            for (int i = 0; i < 8; ++i) {
                bool ink = font.glyphs[code * 8 + r] & (0x80 >> i);
                out.Fill(x + i * scale, y + r * scale, scale, scale,
                         ink ? pack.Rgb(15) : ((i + r) & 1 ? 0x151515 : 0x1C1C1C));
            }
    }
    int y = margin * 2 + 8 * pitch;
    out.Fill(0, y - 8, out.width(), lineH * 5 + 16, pack.Rgb(0));
    for (int i = 0; i < 5; ++i)
        out.Text(font, margin, y + i * lineH, 2, pack.Rgb(i == 1 ? 12 : 15), samples[i]);
    y += lineH * 5 + 12;
    // The level editor's help: black on the panel colour.
    out.Fill(0, y, out.width(), lineH + 12, pack.Rgb(208));
    out.Text(font, margin, y + 6, 2, pack.Rgb(0), "Save and exit: Press ESC   \x18,\x19,\x1a,\x1b");
    return out.Save(path);
}

// Every record alone at its real size, and all of them on one overview.
bool WriteStages(const Pack& pack, const Font& font, const std::vector<uint8_t>& levels,
                 int records, const std::string& outDir) {
    if (records == 0) return true;
    const int cols = std::min(records, 4), gap = 16, captionH = 28;
    const int rows = (records + cols - 1) / cols;
    Canvas overview(gap + cols * (kScreenW + gap), gap + rows * (kScreenH + captionH + gap),
                    kSheetBack);
    for (int i = 0; i < records; ++i) {
        Screen s = RenderStage(pack, font, levels.data() + i * kLevelRecordBytes, i == 0);
        Canvas one(kScreenW, kScreenH, 0);
        Blit(one, pack, s, 0, 0, 1);
        char name[32];
        std::snprintf(name, sizeof name, "/stage-%02d.png", i);
        if (!one.Save(outDir + name)) return false;
        int x = gap + (i % cols) * (kScreenW + gap);
        int y = gap + (i / cols) * (kScreenH + captionH + gap);
        overview.Text(font, x, y, 2, kInk, i ? "STAGE " + std::to_string(i) : "DEMO (0)");
        Blit(overview, pack, s, x, y + captionH, 1);
    }
    return overview.Save(outDir + "/stages.png");
}

bool LoadPack(const std::string& path, Pack& pack) {
    std::vector<uint8_t> bytes = assetc::ReadBinaryFile(path);
    if (bytes.size() < kGraphicsPackBytes) return false;
    pack.titleW = bytes[0] | bytes[1] << 8;
    pack.titleH = bytes[2] | bytes[3] << 8;
    if (pack.titleW * pack.titleH > 17664) return false;
    pack.title.assign(bytes.begin() + 4, bytes.begin() + 4 + pack.titleW * pack.titleH);
    std::copy(bytes.begin() + kPaletteOffset, bytes.begin() + kPaletteOffset + 768,
              pack.palette.begin());
    pack.sprites.assign(bytes.begin() + kSpritesOffset,
                        bytes.begin() + kSpritesOffset + kSpriteCount * 256);
    return true;
}

}  // namespace

int RenderPreviews(const std::string& graphicsFile, const std::string& levelFile,
                   const std::string& outDir) {
    namespace fs = std::filesystem;
    try {
        Pack pack;
        if (!LoadPack(graphicsFile, pack)) {
            std::fprintf(stderr, "assetc: %s is not a graphics pack of %d bytes\n",
                         graphicsFile.c_str(), kGraphicsPackBytes);
            return 1;
        }
        // The font lives beside the pack; without it the pictures go unlabelled.
        Font font;
        std::string fontFile = (fs::path(graphicsFile).parent_path() / "tank.fnt").string();
        std::error_code ec;
        if (fs::exists(fontFile, ec)) {
            std::vector<uint8_t> bytes = assetc::ReadBinaryFile(fontFile);
            if (bytes.size() >= 2 + 2048 && bytes[0] == 8 && bytes[1] == 8) {
                std::copy(bytes.begin() + 2, bytes.begin() + 2 + 2048, font.glyphs.begin());
                font.loaded = true;
            }
        }
        if (!font.loaded)
            std::fprintf(stderr, "assetc: no usable %s; pictures are not labelled\n",
                         fontFile.c_str());
        fs::create_directories(outDir, ec);
        bool ok = WriteContactSheet(pack, font, outDir + "/sprites.png") &&
                  WriteTitle(pack, outDir + "/title.png");
        if (ok && font.loaded) ok = WriteFontSheet(pack, font, outDir + "/font.png");
        // The sheets above are useful even when the level file is missing or broken.
        std::vector<uint8_t> levels = assetc::ReadBinaryFile(levelFile);
        int records = static_cast<int>(levels.size() / kLevelRecordBytes);
        if (ok) ok = WriteStages(pack, font, levels, records, outDir);
        if (!ok) {
            std::fprintf(stderr, "assetc: cannot write the pictures into %s\n", outDir.c_str());
            return 1;
        }
        std::printf("assetc: %d stage pictures and the sheets written to %s\n", records,
                    outDir.c_str());
        return 0;
    } catch (const assetc::SourceError& e) {
        std::fprintf(stderr, "assetc: %s\n", e.what());
        return 1;
    }
}
