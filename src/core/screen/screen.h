#pragma once
// The emulated 320 x 200 indexed screens, the palette, the pixel table and the plain drawing
// primitives. Every drawing call addresses a buffer by y * 320 + x from its first byte (the
// width field); the presenter shows the byte at 4 + r * 320 + c at display position (c, r), so
// whatever is drawn at (x, y) shows four columns to the left.
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace kdv {

constexpr int kScreenWidth = 320;
constexpr int kScreenHeight = 200;
constexpr int kScreenPixels = kScreenWidth * kScreenHeight;
constexpr int kPixelRoom = 64161;             // pixel field of a screen buffer, with slack
constexpr int kScreenBytes = 4 + kPixelRoom;  // width, height, pixels
constexpr int kPresentOffset = 4;             // drawing offset of the first shown pixel

constexpr int kBlockBytes = 32;  // the grain in which writes to a buffer are noted
constexpr int kScreenBlocks = (kScreenBytes + kBlockBytes - 1) / kBlockBytes;
constexpr int kCopiedBlocks = kScreenPixels / kBlockBytes;  // what CopyToFrame covers

// A set of blocks of a screen buffer.
class BlockSet {
  public:
    static constexpr int kWords = (kScreenBlocks + 63) / 64;

    bool Has(int block) const { return words_[size_t(block >> 6)] >> (block & 63) & 1; }
    void Add(int block) { words_[size_t(block >> 6)] |= uint64_t(1) << (block & 63); }
    void Drop(int block) { words_[size_t(block >> 6)] &= ~(uint64_t(1) << (block & 63)); }
    void AddRange(int first, int last);  // inclusive
    // Written out store by store: a fill loop becomes a string instruction, which takes longer
    // to start than this takes.
    void Clear() { ClearWords(std::make_index_sequence<kWords + 4>{}); }
    bool Empty() const;
    bool Intersects(const BlockSet& other) const;
    BlockSet& operator|=(const BlockSet& other);
    BlockSet& operator&=(const BlockSet& other);
    BlockSet& Remove(const BlockSet& other);
    bool operator==(const BlockSet&) const = default;
    // Blocks w * 64 .. w * 64 + 63, one bit each (w < kWords + 3).
    uint64_t Word(int w) const { return words_[size_t(w)]; }
    void SetWord(int w, uint64_t bits) { words_[size_t(w)] = bits; }
    uint64_t* Words() { return words_.data(); }
    const uint64_t* Words() const { return words_.data(); }
    // Calls f(block) for every block of the set, in ascending order.
    template <typename F>
    void ForEach(F f) const {
        for (int w = 0; w < kWords; ++w)
            for (uint64_t bits = words_[size_t(w)]; bits; bits &= bits - 1)
                f(w * 64 + __builtin_ctzll(bits));
    }

  private:
    template <size_t... I>
    void ClearWords(std::index_sequence<I...>) {
        ((words_[I] = 0), ...);
    }
    // More words, always 0, so that a sprite's four words of marks starting at any
    // word can be or'ed in without a bound.
    std::array<uint64_t, kWords + 4> words_{};
};

struct ScreenBuffer;

// An overlay that a frame keeps from one tick to the next instead of drawing it again: the
// side panel, which changes a few times a stage. Its blocks skip the copy of the background
// while nothing else touches them; what the copy would have put there is kept in `under`, so
// that any other write or read there sees exactly the frame it would have seen.
struct HeldLayer {
    BlockSet drawn;        // blocks the overlay drew into since the last copy
    BlockSet held;         // blocks that skipped the copy and show the overlay over `under`
    bool drawing = false;  // the overlay is being drawn: its writes go to `drawn`
    bool lost = true;      // part of it was overwritten or copied over: draw it again
    BlockSet released;     // the blocks of it put back or copied over since it was last drawn
    std::vector<uint8_t> under;
};

// Sprites (and glyphs) that a frame keeps from one tick to the next when they are drawn again
// exactly as before: the same sprite, place and colours, over a background that did not
// change, in blocks nothing else wrote. Such a sprite's blocks skip the copy of the background
// and wait, `pending`, for the sprite: drawn again, it costs nothing and the presenter has
// nothing to compare; anything else that writes there first, or the end of the tick, puts the
// background back. Reads of a pending block see the background, as they would after the copy.
// The sprite sheet and the fonts do not change while a frame keeps sprites from them; loading
// them forgets what was kept.
struct SpriteRepeats {
    struct Drawn {
        uint64_t key = 0;               // target offset, colours and shape
        const uint8_t* from = nullptr;  // the sprite's or glyph's pixels
        int word = 0;                   // the first of the four block words of `bits`
        uint64_t bits[4] = {};
        uint64_t text[2] = {};  // a line of text: its characters (a sprite or a glyph: 0)
    };
    static constexpr int kMaxSprites = 48;
    static constexpr uint64_t kNoKey = ~uint64_t(0);  // no sprite has it
    // A line of text drawn as one: its key has these bits, which no sprite's or glyph's has.
    static constexpr uint64_t kTextKey = uint64_t(3) << 62;

    bool on = false;  // the buffer is a frame that takes copies of `source`
    const ScreenBuffer* source = nullptr;
    std::array<Drawn, kMaxSprites> drawn{};  // this tick's sprites, in order
    int drawnCount = 0;
    BlockSet once;    // blocks written by one sprite since the last copy
    BlockSet shared;  // blocks written by more than one sprite, or by anything else
    std::array<Drawn, kMaxSprites> kept{};            // the last tick's sprites still in the frame
    std::array<uint64_t, kMaxSprites> waitingKeys{};  // their keys, kNoKey once drawn or put back
    int keptCount = 0;
    int nextKept = 0;       // where the next sprite drawn is looked for first: the order repeats
    uint64_t keptKeys = 0;  // a bit for each kept sprite's key (KeyBit), to pass over the others
    BlockSet pending;       // blocks of kept sprites that were not drawn again yet
    int waiting = 0;        // kept sprites not drawn again yet

    static uint64_t KeyBit(uint64_t key) {
        return uint64_t(1) << (key * 0x9E3779B97F4A7C15u >> 58);
    }
};

// A picture or screen buffer: width and height (unsigned 16-bit, little-endian), then pixels.
// Every write goes through Mark, which notes the blocks written for the copy into the frame
// and for the presenter; the notes are bookkeeping and never part of the picture.
struct ScreenBuffer {
    std::array<uint8_t, kScreenBytes> bytes{};
    BlockSet copyMarks;   // written since the buffer last took part in CopyToFrame
    BlockSet shownMarks;  // written since the presenter last converted the frame
    HeldLayer layer;
    SpriteRepeats repeats;
    uintptr_t copiedFrom = 0;  // the source of the last CopyToFrame into this buffer
    // ClearFrame cleared the screen and copyMarks holds only what was written since: every
    // other block of the screen is 0, and the next CopyToFrame takes the whole buffer.
    bool cleared = false;
    // A background filled every tick (the title's) is filled again only where it was written
    // since: every block of the screen outside `unfilled` and copyMarks holds fillColour (-1:
    // nothing known). What a fill wrote goes to `fillMarks`, not copyMarks, so that the copy
    // can tell it from what was drawn over it.
    int fillColour = -1;
    BlockSet unfilled;    // drawn on since the last fill, up to the last copy
    BlockSet fillMarks;   // written by fills since the last copy
    bool filled = false;  // a fill since the last copy: the frame's held overlay goes

    uint16_t Width() const { return uint16_t(bytes[0] | bytes[1] << 8); }
    uint16_t Height() const { return uint16_t(bytes[2] | bytes[3] << 8); }
    void SetSize(uint16_t width, uint16_t height);
    // The byte at drawing position (x, y); outside the buffer reads as the frame colour, so
    // that nothing can see past the edges of memory.
    uint8_t At(int x, int y) const {
        long off = long(y) * kScreenWidth + x;
        if (off < 0 || off >= kScreenBytes) return 208;
        if (repeats.pending.Has(int(off / kBlockBytes))) return repeats.source->bytes[size_t(off)];
        if (layer.held.Has(int(off / kBlockBytes))) return layer.under[size_t(off)];
        return bytes[size_t(off)];
    }
    // Writes the byte at drawing position (x, y); nothing outside the buffer.
    void Set(int x, int y, uint8_t colour) {
        long off = long(y) * kScreenWidth + x;
        if (off < 0 || off >= kScreenBytes) return;
        Mark(size_t(off), size_t(off));
        bytes[size_t(off)] = colour;
    }
    // Notes that the bytes first..last (inclusive, inside the buffer) are about to be written.
    void Mark(size_t first, size_t last) {
        const int b0 = int(first / kBlockBytes), b1 = int(last / kBlockBytes);
        if (b1 - b0 > 2) return MarkRange(b0, b1);
        for (int b = b0; b <= b1; ++b) MarkBlock(b);  // a sprite row or a pixel
    }
    void MarkBlock(int block) {
        if (repeats.on) {
            if (repeats.pending.Has(block)) PutBackPending(block);
            repeats.shared.Add(block);
        }
        if (layer.held.Has(block)) Release(block);
        (layer.drawing ? layer.drawn : copyMarks).Add(block);
        shownMarks.Add(block);
    }
    // Notes the blocks of first + r * kScreenWidth for every bit r of `rows`, and the blocks
    // after those for every bit r of `next` (r < 16, all inside the buffer): a sprite or a glyph.
    void MarkRows(size_t first, unsigned rows, unsigned next);
    // The same for a sprite or glyph about to be drawn from the pixels at `from`, `key`
    // telling it apart from any other drawn from there.
    void MarkSprite(size_t first, unsigned rows, unsigned next, uint64_t key, const uint8_t* from);
    // The same for blocks already found (RowBits), as for a line of text, whose characters
    // are `text` (two words).
    void MarkSpriteBits(int w, const uint64_t bits[4], uint64_t key, const uint8_t* from,
                        const uint64_t* text = nullptr);
    // True when the frame still shows this sprite from the tick before and nothing was drawn
    // there since: it need not be drawn. Asked before the sprite's rows are looked at.
    bool SpriteKept(uint64_t key, const uint8_t* from, const uint64_t* text = nullptr);
    // The blocks of `first + r * kScreenWidth` for the bits of rows and next, four words from w.
    static void RowBits(size_t first, unsigned rows, unsigned next, int& w, uint64_t bits[4]);
    // The background back under every kept sprite that was not drawn again: the tick is over.
    void EndTick();
    // Every block written, as after a change the notes cannot follow.
    void MarkAll() { MarkRange(0, kScreenBlocks - 1); }
    // Puts back what lies under the held overlay, which is then to be drawn again.
    void ReleaseHeld();

  private:
    void MarkRange(int first, int last);
    void Release(int block);
    void MarkBits(int w, const uint64_t bits[4], bool sprite);
    void PutBackPending(int block);
    void PutBack(int kept);
};

using Palette = std::array<uint8_t, 768>;  // 256 x (red, green, blue), each 0..63
using PixelTable = std::array<uint16_t, 256>;

// The 16-bit picture that is handed to the display: 320 x 200 or 640 x 400.
struct WorkBitmap {
    int width = 0;
    int height = 0;
    bool rgb565 = false;  // 5-6-5 pixels, else 5-5-5
    std::vector<uint16_t> pixels;

    void Resize(int w, int h);
};

// 15-bit (5-5-5) when rgb565 is false, 16-bit (5-6-5) otherwise.
void BuildPixelTable(const Palette& palette, bool rgb565, PixelTable& table);

// Every pixel of the screen (from the width field) in one colour.
void FillScreen(ScreenBuffer& buffer, uint8_t colour);
// FillScreen with 0; cleared again before anything else copied into it, only the blocks
// written since are cleared.
void ClearFrame(ScreenBuffer& frame);
// Copies only the blocks in which frame and source may differ: those either was written in
// since the last copy between them.
void CopyToFrame(ScreenBuffer& frame, ScreenBuffer& source);
void PutBackPixel(ScreenBuffer& back, int x, int y, uint8_t colour);
void DrawBackHLine(ScreenBuffer& back, int x1, int x2, int y, uint8_t colour);
void DrawBackVLine(ScreenBuffer& back, int x, int y1, int y2, uint8_t colour);
// Top and left in colour 8, bottom and right in colour 15.
void DrawSunkenFrame(ScreenBuffer& back, int x1, int y1, int x2, int y2);
void FillBackRect(ScreenBuffer& back, int x1, int y1, int x2, int y2, uint8_t colour);
// Opaque copy of a picture. The picture is limited to the pixels its buffer was loaded with
// (maxPixels) and to what fits in the target, so a bad size can never run outside memory.
void BlitPicture(ScreenBuffer& back, int x, int y, const ScreenBuffer& picture, int maxPixels);

// A 16-bit pixel expanded to 8 bits per component, for screenshots.
void PixelToRgb(uint16_t pixel, bool rgb565, uint8_t rgb[3]);

}  // namespace kdv
