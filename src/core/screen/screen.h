#pragma once
// The emulated 320 x 200 indexed screens, the palette, the pixel table and the plain drawing
// primitives. Every drawing call addresses a buffer by y * 320 + x from its first byte (the
// width field); the presenter shows the byte at 4 + r * 320 + c at display position (c, r), so
// whatever is drawn at (x, y) shows four columns to the left.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>
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

// The blocks a sprite's rows take, for each place of its left edge in a block: with the edge
// `split` bytes before the end of its block (index min(split, 16) - 1), bit r of `rows[i][0]`
// for a row r with ink (a byte other than 255) in the block it starts in, of `rows[i][1]` for
// one with ink in the block after.
struct SpriteInk {
    std::array<std::array<uint16_t, 2>, 16> rows{};
    bool operator==(const SpriteInk&) const = default;
};
SpriteInk InkOf(const uint8_t* sprite);

// What a sprite, a glyph or a line of text drawn as one is: drawn again with the same identity,
// it writes the same pixels at the same place. The pixels it is drawn from do not change while
// a frame keeps it (see ScreenBuffer::ForgetSprites).
struct SpriteId {
    enum Kind : uint8_t { kSprite, kGlyph, kLine };
    const uint8_t* from = nullptr;  // its pixels: the sprite's, the glyph's or the font's
    uint32_t at = 0;                // the offset of its top left in the buffer
    Kind kind = kSprite;
    uint8_t colour = 0;     // a sprite's colour offset; a glyph's or a line's colour
    uint8_t rows = 0;       // a glyph's or a line's rows
    uint8_t width = 0;      // a glyph's width; a line's characters
    uint64_t text[2] = {};  // a line's characters
    bool operator==(const SpriteId&) const = default;
};

// A line of 8 x 8 glyphs drawn as one: each glyph's column and rows (row r in byte r, the
// leftmost pixel in bit 7), only the rows that are drawn.
struct LineGlyph {
    int x;
    uint64_t rows;
};
constexpr int kMaxLineGlyphs = 16;

// Where one piece of an overlay the frame holds from one tick to the next (the side panel)
// draws: columns x1..x2 and rows y1..y2 of the drawing positions.
struct HeldPiece {
    int x1, y1, x2, y2;
};
constexpr int kMaxHeldPieces = 32;
constexpr size_t kMaxHeldShows = 64;  // bytes that tell an overlay apart

// The overlay the frame holds: its blocks skip the copy of the background while nothing
// else touches them; what the copy would have put there is kept in `under`, which reads
// see until the overlay is drawn in the frame.
struct HeldLayer {
    BlockSet drawn;        // blocks the overlay drew into since the last copy
    BlockSet held;         // blocks that skipped the copy and show the overlay over `under`
    bool drawing = false;  // the overlay is being drawn: its writes go to `drawn`
    bool current = false;  // drawn (or found held as drawn) since the frame began
    bool holding = false;  // `held` may have blocks
    bool drew = false;     // `drawn` may have blocks
    bool lost = true;      // part of it was overwritten or copied over: draw it again
    BlockSet released;     // the blocks of it put back or copied over since it was drawn
    int shownBytes = -1;   // the size of what it showed when last drawn; -1: nothing known
    std::array<uint8_t, kMaxHeldShows> shows{};
    std::vector<uint8_t> under;
};

// Sprites (and glyphs and lines) that a frame keeps from one tick to the next when they are
// drawn again exactly as before: the same identity, over a background that did not change,
// in blocks nothing else wrote. Such a sprite's blocks skip the copy of the background and
// wait, `pending`, for the sprite: drawn again, it costs nothing and the presenter has
// nothing to compare; anything else that writes there first, or the end of the tick, puts
// the background back. Reads of a pending block see the background.
struct SpriteRepeats {
    struct Drawn {
        SpriteId id;
        int word = 0;  // the first of the four block words of `bits`
        uint64_t bits[4] = {};
    };
    static constexpr int kMaxSprites = 48;

    bool on = false;  // the buffer is a frame that takes copies of `source`
    const ScreenBuffer* source = nullptr;
    std::array<Drawn, kMaxSprites> drawn{};  // this tick's sprites, in order
    int drawnCount = 0;
    BlockSet once;    // blocks written by one sprite since the last copy
    BlockSet shared;  // blocks written by more than one sprite, or by anything else
    std::array<Drawn, kMaxSprites> kept{};  // the last tick's sprites still in the frame
    std::array<bool, kMaxSprites> waits{};  // not drawn again nor put back yet
    int keptCount = 0;
    int nextKept = 0;       // where the next sprite drawn is looked for first
    uint64_t keptKeys = 0;  // a bit for each kept sprite (KeyBit), to pass over the others
    BlockSet pending;       // blocks of kept sprites that were not drawn again yet
    int waiting = 0;        // kept sprites not drawn again yet

    static uint64_t KeyBit(const SpriteId& id) {
        const uint64_t key = id.at | uint64_t(id.colour) << 32 | uint64_t(id.kind) << 40;
        return uint64_t(1) << (key * 0x9E3779B97F4A7C15u >> 58);
    }
};

// A picture or screen buffer: width and height (unsigned 16-bit, little-endian), then pixels.
// Every write is noted, a block of kBlockBytes at a time, for the copy into the frame and for
// the presenter; a frame also keeps sprites and an overlay drawn again as they were. None of it
// is part of the picture: every read sees what plain drawing would have left, and the bytes
// between frames are the frame itself.
struct ScreenBuffer {
    ScreenBuffer() = default;
    ScreenBuffer(const ScreenBuffer&) = default;
    ScreenBuffer& operator=(const ScreenBuffer&) = default;
    ~ScreenBuffer();

    uint16_t Width() const { return uint16_t(bytes_[0] | bytes_[1] << 8); }
    uint16_t Height() const { return uint16_t(bytes_[2] | bytes_[3] << 8); }
    void SetSize(uint16_t width, uint16_t height);

    // The whole buffer as it stands between frames: what is shown, saved, hashed and dumped.
    const std::array<uint8_t, kScreenBytes>& Bytes() const { return bytes_; }
    // The buffer's first bytes.size() bytes (all of them for a whole screen) replaced, as by a
    // loaded picture or game; whatever was noted or kept of the old ones is dropped.
    void Load(std::span<const uint8_t> bytes);

    // The byte at drawing position (x, y) as plain drawing would have left it by now; outside
    // the buffer it reads as the frame colour, so that nothing can see past the edges of memory.
    uint8_t At(int x, int y) const {
        const long off = long(y) * kScreenWidth + x;
        if (off < 0 || off >= kScreenBytes) return 208;
        const int block = int(off / kBlockBytes);
        if (repeats_.pending.Has(block)) return repeats_.source->bytes_[size_t(off)];
        if (layer_.held.Has(block) && !layer_.current) return layer_.under[size_t(off)];
        return bytes_[size_t(off)];
    }
    // out.size() bytes from drawing position (x, y) on, in buffer order, each as At reads it.
    void Read(int x, int y, std::span<uint8_t> out) const;
    // The same for a few bytes at once (a tank's look ahead).
    template <size_t N>
    void Read(int x, int y, std::array<uint8_t, N>& out) const {
        static_assert(N <= kBlockBytes, "at most two blocks");
        const long off = long(y) * kScreenWidth + x;
        if (off >= 0 && off + long(N) <= kScreenBytes && Plain(int(off / kBlockBytes)) &&
            Plain(int((off + long(N) - 1) / kBlockBytes)))
            std::memcpy(out.data(), bytes_.data() + off, N);
        else
            Read(x, y, std::span<uint8_t>(out));
    }

    // The byte at drawing position (x, y); nothing outside the buffer.
    void Set(int x, int y, uint8_t colour) {
        const long off = long(y) * kScreenWidth + x;
        if (off < 0 || off >= kScreenBytes) return;
        Mark(size_t(off), size_t(off));
        bytes_[size_t(off)] = colour;
    }
    // count bytes from drawing position (x, y) on, in buffer order: those inside the buffer.
    void SetRun(int x, int y, int count, uint8_t colour) {
        const long off = long(y) * kScreenWidth + x;
        const long first = off < 0 ? 0 : off;
        const long last = (off + count < kScreenBytes ? off + count : kScreenBytes) - 1;
        if (first > last) return;
        Mark(size_t(first), size_t(last));
        if (last - first < 8)  // a bullet's row: not worth a call
            for (long at = first; at <= last; ++at) bytes_[size_t(at)] = colour;
        else
            std::memset(bytes_.data() + first, colour, size_t(last - first + 1));
    }
    // The same, copied from `from`.
    void CopyRun(int x, int y, const uint8_t* from, int count);
    // A 16 x 16 sprite from `pixels` (row by row; 255 transparent, 0 as it is, any other byte
    // plus colourOffset modulo 256), `ink` worked out from them by InkOf.
    void DrawSprite(int x, int y, const uint8_t* pixels, const SpriteInk& ink,
                    uint8_t colourOffset);
    // A glyph wholly on the screen: `count` rows (at most 16) of `width` pixels (8 or 16), the
    // leftmost in the highest bit of rows[r], read from `from`.
    void DrawGlyph(int x, int y, uint8_t colour, const unsigned* rows, int count, int width,
                   const uint8_t* from);
    // A line of text drawn as one sprite `id` (x and y from its offset): the frame may still
    // show it as drawn before; else layout(glyphs, count) lays it out, or returns false when it
    // cannot be drawn as one, and nothing is drawn. True when it is drawn.
    template <typename Layout>
    bool DrawLine(const SpriteId& id, Layout layout) {
        if (TakeKept(id)) return true;
        std::array<LineGlyph, kMaxLineGlyphs> glyphs;
        int count = 0;
        if (!layout(glyphs, count)) return false;
        if (count > 0) PaintLine(id, glyphs.data(), count);
        return true;
    }

    // An overlay that the frame holds from one tick to the next, of `count` pieces: draw(i)
    // draws piece i, where(i) gives its HeldPiece. `shows`, a record compared whole, tells apart
    // all it shows, the pieces and where they lie included. Drawn again as it was, it is drawn only
    // where the frame no longer holds it: the pieces that meet what was lost, and those that share
    // a block with them. It shows in the frames that draw it, as though drawn there whole, once a
    // frame.
    template <typename Shows, typename Where, typename Draw>
    void DrawHeld(const Shows& shows, int count, Where where, Draw draw) {
        static_assert(
            std::has_unique_object_representations_v<Shows> && sizeof(Shows) <= kMaxHeldShows,
            "compared byte by byte");
        const std::span bytes(reinterpret_cast<const uint8_t*>(&shows), sizeof shows);
        const bool same = layer_.shownBytes == int(sizeof shows) &&
                          std::memcmp(&shows, layer_.shows.data(), sizeof shows) == 0;
        switch (BeginHeld(same, count)) {
            case HeldDraw::kNone:
                break;
            case HeldDraw::kAll:
                for (int i = 0; i < count; ++i) draw(i);
                break;
            case HeldDraw::kLost: {
                std::array<HeldPiece, kMaxHeldPieces> pieces;
                for (int i = 0; i < count; ++i) pieces[size_t(i)] = where(i);
                const uint32_t again = LostPieces(std::span(pieces.data(), size_t(count)));
                for (int i = 0; i < count; ++i)
                    if (again >> i & 1) draw(i);
                break;
            }
        }
        EndHeld(bytes);
    }

    // The end of a tick: the background comes back under the kept sprites that were not drawn
    // again and under an overlay the frame did not draw.
    void EndTick() {
        if (repeats_.waiting || (layer_.holding && !layer_.current)) EndKept();
    }
    // The blocks written since the presenter last took them.
    BlockSet TakeShown();
    // Every block is to be compared by the presenter, as after bytes it was not told of.
    void ShowAll() { shownMarks_.AddRange(0, kScreenBlocks - 1); }
    // The sprite sheet or a font changed: no sprite drawn before is kept.
    void ForgetSprites();
    // Everything noted and kept dropped: from here the buffer copies, fills and draws
    // everything, as one without the notes would. The bytes stay what they show.
    void DropCaches();

    // How much the frame kept, for tests that must know their frames exercised it.
    struct Counts {
        long keptSprites = 0;  // sprites kept from one tick to the next
        long partFills = 0;    // fills in the same colour that wrote only part of the screen
        long heldSkips = 0;    // overlay pieces held instead of drawn
    };
    const Counts& Counted() const { return counts_; }

    friend void FillScreen(ScreenBuffer& buffer, uint8_t colour);
    friend void ClearFrame(ScreenBuffer& frame);
    friend void CopyToFrame(ScreenBuffer& frame, ScreenBuffer& source);

  private:
    // Notes that the bytes first..last (inclusive, inside the buffer) are about to be written.
    void Mark(size_t first, size_t last) {
        const int b0 = int(first / kBlockBytes), b1 = int(last / kBlockBytes);
        if (b1 - b0 > 2) return MarkRange(b0, b1);
        for (int b = b0; b <= b1; ++b) MarkBlock(b);  // a sprite row or a pixel
    }
    void MarkBlock(int block) {
        if (keeper_.frame) keeper_.frame->SourceWrites(block);
        if (repeats_.on) {
            if (repeats_.pending.Has(block)) PutBackPending(block);
            repeats_.shared.Add(block);
        }
        if (layer_.held.Has(block)) Release(block);
        (layer_.drawing ? layer_.drawn : copyMarks_).Add(block);
        shownMarks_.Add(block);
    }
    // Whether the block's bytes are what it reads as.
    bool Plain(int block) const {
        return !repeats_.pending.Has(block) && !(layer_.held.Has(block) && !layer_.current);
    }
    void MarkRange(int first, int last);
    void MarkAll() { MarkRange(0, kScreenBlocks - 1); }
    // The blocks of `first + r * kScreenWidth` for the bits of rows and next, four words from w.
    static void RowBits(size_t first, unsigned rows, unsigned next, int& w, uint64_t bits[4]);
    void MarkBits(int w, const uint64_t bits[4], bool sprite);
    // Notes the blocks of a sprite `id` about to be drawn, found by RowBits.
    void MarkSprite(const SpriteId& id, int w, const uint64_t bits[4]);
    // True when the frame still shows `id` from the tick before and nothing was drawn there
    // since: it need not be drawn. Asked before the sprite's rows are looked at.
    bool TakeKept(const SpriteId& id);
    // The same, for the drawing in this buffer's own file, where it is made part of the caller.
    bool TakeKeptHere(const SpriteId& id);
    void PaintLine(const SpriteId& id, const LineGlyph* glyphs, int count);
    void PutBackPending(int block);
    void PutBack(int kept);
    void PutBackWaiting();
    void EndKept();
    // One kept sprite fewer waits.
    void Waited();
    // This frame's source is about to change there: what the copy would have given comes back
    // first.
    void SourceWrites(int block) {
        if (repeats_.pending.Has(block)) PutBackPending(block);
    }
    void SourceWrites(int w, const uint64_t* bits, int words);
    void Release(int block);
    void ReleaseHeld();
    // The overlay drawn since the last copy is about to be drawn over whole (a fill, a clear):
    // its blocks are written like any others, and it is to be drawn again.
    void LoseDrawn();
    // Which sprites drawn since the frame last took a copy from `source` stay.
    void KeepSprites(const ScreenBuffer& source, bool known);
    enum class HeldDraw { kNone, kAll, kLost };
    HeldDraw BeginHeld(bool same, int count);
    uint32_t LostPieces(std::span<const HeldPiece> pieces);
    void EndHeld(std::span<const uint8_t> shows);

    std::array<uint8_t, kScreenBytes> bytes_{};
    BlockSet copyMarks_;   // written since the buffer last took part in CopyToFrame
    BlockSet shownMarks_;  // written since the presenter last took the notes
    HeldLayer layer_;
    SpriteRepeats repeats_;
    uintptr_t copiedFrom_ = 0;  // the source of the last CopyToFrame into this buffer
    // ClearFrame cleared the screen and copyMarks holds only what was written since: every
    // other block of the screen is 0, and the next CopyToFrame takes the whole buffer.
    bool cleared_ = false;
    // A background filled every tick (the title's) is filled again only where it was written
    // since: every block of the screen outside `unfilled` and copyMarks holds fillColour (-1:
    // nothing known). What a fill wrote goes to `fillMarks`, not copyMarks, so that the copy
    // can tell it from what was drawn over it.
    int fillColour_ = -1;
    BlockSet unfilled_;    // drawn on since the last fill, up to the last copy
    BlockSet fillMarks_;   // written by fills since the last copy
    bool filled_ = false;  // a fill since the last copy: the frame's held overlay goes
    Counts counts_;
    // The frame whose kept sprites wait over this buffer's bytes, which it reads and puts back:
    // told before any of them change. A copy of the buffer is kept by no frame.
    struct Keeper {
        ScreenBuffer* frame = nullptr;
        Keeper() = default;
        Keeper(const Keeper&) {}
        Keeper& operator=(const Keeper&) {
            frame = nullptr;
            return *this;
        }
    };
    mutable Keeper keeper_;
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
