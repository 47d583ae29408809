#include "core/screen/screen.h"

#include <algorithm>
#include <cstring>

// Where the machine has wider vectors, the passes over the notes of blocks take them.
// The results are the same bits either way.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__gnu_linux__) && \
    !defined(__SANITIZE_ADDRESS__)
#define KDV_WIDE_WORDS __attribute__((target_clones("avx2", "default")))
#else
#define KDV_WIDE_WORDS
#endif

namespace kdv {

void BlockSet::AddRange(int first, int last) {
    for (int w = first >> 6; w <= last >> 6; ++w) {
        uint64_t bits = ~uint64_t(0);
        if (w == first >> 6) bits &= ~uint64_t(0) << (first & 63);
        if (w == last >> 6) bits &= ~uint64_t(0) >> (63 - (last & 63));
        words_[size_t(w)] |= bits;
    }
}

bool BlockSet::Empty() const {
    for (uint64_t w : words_)
        if (w) return false;
    return true;
}

bool BlockSet::Intersects(const BlockSet& other) const {
    for (int w = 0; w < kWords; ++w)
        if (words_[size_t(w)] & other.words_[size_t(w)]) return true;
    return false;
}

BlockSet& BlockSet::operator|=(const BlockSet& other) {
    for (int w = 0; w < kWords; ++w) words_[size_t(w)] |= other.words_[size_t(w)];
    return *this;
}

BlockSet& BlockSet::operator&=(const BlockSet& other) {
    for (int w = 0; w < kWords; ++w) words_[size_t(w)] &= other.words_[size_t(w)];
    return *this;
}

BlockSet& BlockSet::Remove(const BlockSet& other) {
    for (int w = 0; w < kWords; ++w) words_[size_t(w)] &= ~other.words_[size_t(w)];
    return *this;
}

void ScreenBuffer::MarkRange(int first, int last) {
    BlockSet range;
    range.AddRange(first, last);
    if (keeper_.frame) keeper_.frame->SourceWrites(0, range.Words(), BlockSet::kWords);
    if (repeats_.on) {
        if (repeats_.pending.Intersects(range)) {
            BlockSet back = repeats_.pending;
            back &= range;
            back.ForEach([this](int block) {
                if (repeats_.pending.Has(block)) PutBackPending(block);
            });
        }
        repeats_.shared |= range;
    }
    if (layer_.held.Intersects(range)) {
        BlockSet released = layer_.held;
        released &= range;
        released.ForEach([this](int block) { Release(block); });
    }
    (layer_.drawing ? layer_.drawn : copyMarks_) |= range;
    shownMarks_ |= range;
}

void ScreenBuffer::RowBits(size_t first, unsigned rows, unsigned next, int& w, uint64_t bits[4]) {
    static_assert(kScreenWidth % kBlockBytes == 0, "a row is whole blocks");
    constexpr int kRowBlocks = kScreenWidth / kBlockBytes;
    // The row r starts kRowBlocks * r blocks after the first: rows 0..7 give bits in the first
    // two words, rows 8..15 in the second and third; a table for each eight.
    struct Pair {
        uint64_t a, b;
    };
    static constexpr auto kTables = [] {
        std::array<std::array<Pair, 256>, 2> t{};
        for (int half = 0; half < 2; ++half)
            for (int m = 0; m < 256; ++m)
                for (int r = 0; r < 8; ++r) {
                    if (!(m >> r & 1)) continue;
                    const int at = kRowBlocks * (r + 8 * half) - 64 * half;
                    (at < 64 ? t[size_t(half)][size_t(m)].a : t[size_t(half)][size_t(m)].b) |=
                        uint64_t(1) << (at & 63);
                }
        return t;
    }();
    auto pattern = [](unsigned m, uint64_t& p0, uint64_t& p1, uint64_t& p2) {
        const Pair lo = kTables[0][m & 255], hi = kTables[1][m >> 8 & 255];
        p0 = lo.a;
        p1 = lo.b | hi.a;
        p2 = hi.b;
    };
    uint64_t p0, p1, p2, n0, n1, n2;
    pattern(rows, p0, p1, p2);
    pattern(next, n0, n1, n2);  // the block after each: one bit on
    p2 |= n2 << 1 | n1 >> 63;
    p1 |= n1 << 1 | n0 >> 63;
    p0 |= n0 << 1;
    const int b0 = int(first / kBlockBytes), shift = b0 & 63;
    w = b0 >> 6;
    bits[0] = p0 << shift;
    bits[1] = p1 << shift;
    bits[2] = p2 << shift;
    bits[3] = 0;
    if (shift) {
        bits[1] |= p0 >> (64 - shift);
        bits[2] |= p1 >> (64 - shift);
        bits[3] = p2 >> (64 - shift);
    }
}

// Four words of marks at a time. The sets are told apart (`__restrict`), so that the words go
// two at a time without first checking whether they overlap, which took longer than the work.
namespace {

void AddBoth(uint64_t* __restrict a, uint64_t* __restrict b, const uint64_t* __restrict bits) {
    for (int k = 0; k < 4; ++k) {
        a[k] |= bits[k];
        b[k] |= bits[k];
    }
}

// `once` takes the blocks; those a sprite writes that one already wrote, and all of anything
// else's, are `shared`.
void NoteWriters(uint64_t* __restrict once, uint64_t* __restrict shared,
                 const uint64_t* __restrict bits, bool sprite) {
    for (int k = 0; k < 4; ++k) {
        shared[k] |= sprite ? once[k] & bits[k] : bits[k];
        once[k] |= bits[k];
    }
}

void Retake(uint64_t* __restrict pending, uint64_t* __restrict once, uint64_t* __restrict marks,
            const uint64_t* __restrict bits) {
    for (int k = 0; k < 4; ++k) {
        pending[k] &= ~bits[k];
        once[k] |= bits[k];
        marks[k] |= bits[k];
    }
}

}  // namespace

void ScreenBuffer::MarkBits(int w0, const uint64_t bits[4], bool sprite) {
    if (keeper_.frame) keeper_.frame->SourceWrites(w0, bits, 4);
    // Every block is on the screen: the words past the last are never set.
    if (repeats_.on) {
        const uint64_t* pending = repeats_.pending.Words() + w0;
        if ((pending[0] & bits[0]) | (pending[1] & bits[1]) | (pending[2] & bits[2]) |
            (pending[3] & bits[3]))
            for (int k = 0; k < 4; ++k)
                for (uint64_t p = repeats_.pending.Word(w0 + k) & bits[k]; p; p &= p - 1)
                    if (const int block = (w0 + k) * 64 + __builtin_ctzll(p);
                        repeats_.pending.Has(block))
                        PutBackPending(block);
        NoteWriters(repeats_.once.Words() + w0, repeats_.shared.Words() + w0, bits, sprite);
    }
    const uint64_t* held = layer_.held.Words() + w0;
    if ((held[0] & bits[0]) | (held[1] & bits[1]) | (held[2] & bits[2]) | (held[3] & bits[3]))
        for (int k = 0; k < 4; ++k)
            for (uint64_t h = layer_.held.Word(w0 + k) & bits[k]; h; h &= h - 1)
                Release((w0 + k) * 64 + __builtin_ctzll(h));
    AddBoth((layer_.drawing ? layer_.drawn : copyMarks_).Words() + w0, shownMarks_.Words() + w0,
            bits);
}

// The identity is compared field by field where its fields were just set, not read back.
[[gnu::always_inline]] inline bool ScreenBuffer::TakeKeptHere(const SpriteId& id) {
    if (repeats_.waiting == 0 || !(repeats_.keptKeys & SpriteRepeats::KeyBit(id))) return false;
    auto same = [&](int i) {
        return repeats_.waits[size_t(i)] && repeats_.kept[size_t(i)].id == id;
    };
    int i = repeats_.nextKept;
    if (i >= repeats_.keptCount || !same(i))
        for (i = 0; i < repeats_.keptCount && !same(i);) ++i;
    if (i == repeats_.keptCount) return false;
    repeats_.nextKept = i + 1;
    if (layer_.drawing || repeats_.drawnCount == SpriteRepeats::kMaxSprites) return false;
    // The frame shows it, and nothing was drawn there since the copy: it is as drawn now.
    repeats_.waits[size_t(i)] = false;
    Waited();
    const SpriteRepeats::Drawn& kept = repeats_.kept[size_t(i)];
    Retake(repeats_.pending.Words() + kept.word, repeats_.once.Words() + kept.word,
           copyMarks_.Words() + kept.word, kept.bits);
    repeats_.drawn[size_t(repeats_.drawnCount++)] = kept;
    ++counts_.keptSprites;
    return true;
}

bool ScreenBuffer::TakeKept(const SpriteId& id) {
    return TakeKeptHere(id);
}

void ScreenBuffer::MarkSprite(const SpriteId& id, int w, const uint64_t bits[4]) {
    if (!repeats_.on || layer_.drawing) return MarkBits(w, bits, false);
    MarkBits(w, bits, true);
    // A sprite reaching into the slack after the screen, which no copy puts back, is not kept.
    constexpr int kLastWord = (kCopiedBlocks - 1) >> 6;
    const bool onScreen = w + 3 < kLastWord || [&] {
        for (int k = 0; k < 4; ++k) {
            const int word = w + k;
            const uint64_t past = word > kLastWord   ? ~uint64_t(0)
                                  : word < kLastWord ? 0
                                                     : ~uint64_t(0) << (kCopiedBlocks & 63);
            if (bits[k] & past) return false;
        }
        return true;
    }();
    if (onScreen && repeats_.drawnCount < SpriteRepeats::kMaxSprites) {
        SpriteRepeats::Drawn& d = repeats_.drawn[size_t(repeats_.drawnCount++)];
        d.id = id;
        d.word = w;
        for (int k = 0; k < 4; ++k) d.bits[k] = bits[k];
    } else {
        uint64_t* shared = repeats_.shared.Words() + w;
        for (int k = 0; k < 4; ++k) shared[k] |= bits[k];
    }
}

void ScreenBuffer::PutBack(int i) {
    repeats_.waits[size_t(i)] = false;
    Waited();
    const SpriteRepeats::Drawn& sprite = repeats_.kept[size_t(i)];
    for (int k = 0; k < 4; ++k) {
        const int w = sprite.word + k;
        for (uint64_t b = sprite.bits[k]; b; b &= b - 1) {
            const size_t at = size_t(w * 64 + __builtin_ctzll(b)) * kBlockBytes;
            std::memcpy(bytes_.data() + at, repeats_.source->bytes_.data() + at, kBlockBytes);
        }
        repeats_.pending.SetWord(w, repeats_.pending.Word(w) & ~sprite.bits[k]);
        shownMarks_.SetWord(w, shownMarks_.Word(w) | sprite.bits[k]);
    }
}

void ScreenBuffer::PutBackPending(int block) {
    for (int i = 0; i < repeats_.keptCount; ++i) {
        const SpriteRepeats::Drawn& kept = repeats_.kept[size_t(i)];
        const int k = (block >> 6) - kept.word;
        if (repeats_.waits[size_t(i)] && k >= 0 && k < 4 && kept.bits[k] >> (block & 63) & 1)
            return PutBack(i);
    }
}

void ScreenBuffer::Waited() {
    if (--repeats_.waiting == 0 && repeats_.source->keeper_.frame == this)
        repeats_.source->keeper_.frame = nullptr;
}

void ScreenBuffer::SourceWrites(int w0, const uint64_t* bits, int words) {
    for (int k = 0; k < words; ++k)
        for (uint64_t p = repeats_.pending.Word(w0 + k) & bits[k]; p; p &= p - 1)
            if (const int block = (w0 + k) * 64 + __builtin_ctzll(p); repeats_.pending.Has(block))
                PutBackPending(block);
}

ScreenBuffer::~ScreenBuffer() {
    if (keeper_.frame) keeper_.frame->PutBackWaiting();
    if (repeats_.waiting && repeats_.source->keeper_.frame == this)
        repeats_.source->keeper_.frame = nullptr;
}

void ScreenBuffer::PutBackWaiting() {
    if (repeats_.waiting != 0)
        for (int i = 0; i < repeats_.keptCount; ++i)
            if (repeats_.waits[size_t(i)]) PutBack(i);
}

void ScreenBuffer::EndKept() {
    PutBackWaiting();
    // An overlay the frame did not draw does not show in it, and is drawn whole next time.
    if (layer_.holding && !layer_.current) {
        ReleaseHeld();
        layer_.shownBytes = -1;
    }
}

void ScreenBuffer::ForgetSprites() {
    PutBackWaiting();
    repeats_.drawnCount = 0;
}

// A held block written on or copied over: where the overlay was not drawn in this frame yet,
// what the copy left there comes back.
void ScreenBuffer::Release(int block) {
    if (!layer_.current) {
        const size_t at = size_t(block) * kBlockBytes;
        const size_t count = std::min<size_t>(kBlockBytes, kScreenBytes - at);
        std::memcpy(bytes_.data() + at, layer_.under.data() + at, count);
    } else {
        repeats_.shared.Add(block);  // what is drawn there now is drawn over the overlay
    }
    layer_.held.Drop(block);
    layer_.lost = true;
    layer_.released.Add(block);
    // The bytes are what plain drawing left there; only the presenter has to know.
    shownMarks_.Add(block);
}

void ScreenBuffer::ReleaseHeld() {
    if (!layer_.current)
        layer_.held.ForEach([this](int block) {
            const size_t at = size_t(block) * kBlockBytes;
            std::memcpy(bytes_.data() + at, layer_.under.data() + at,
                        std::min<size_t>(kBlockBytes, kScreenBytes - at));
        });
    shownMarks_ |= layer_.held;
    layer_.held.Clear();
    layer_.holding = false;
    layer_.lost = true;
}

namespace {

// Whether a piece may share a block with the set, or with another piece: rows y1..y2 and the
// blocks of columns x1..x2 in each.
constexpr int kRowBlocks = kScreenWidth / kBlockBytes;

bool Meets(const HeldPiece& p, const BlockSet& blocks) {
    for (int row = std::max(p.y1, 0); row <= std::min(p.y2, kScreenHeight - 1); ++row)
        for (int c = std::max(p.x1, 0) / kBlockBytes;
             c <= std::min(p.x2, kScreenWidth - 1) / kBlockBytes; ++c)
            if (blocks.Has(row * kRowBlocks + c)) return true;
    return false;
}

bool Meets(const HeldPiece& a, const HeldPiece& b) {
    return a.y1 <= b.y2 && b.y1 <= a.y2 && a.x1 / kBlockBytes <= b.x2 / kBlockBytes &&
           b.x1 / kBlockBytes <= a.x2 / kBlockBytes;
}

}  // namespace

// `same`: it shows what it showed when last drawn.
ScreenBuffer::HeldDraw ScreenBuffer::BeginHeld(bool same, int count) {
    // Whatever is drawn now is drawn over what the copy left.
    layer_.current = false;
    if (same && !layer_.lost) {
        counts_.heldSkips += count;
        return HeldDraw::kNone;
    }
    layer_.drawing = layer_.drew = true;
    if (same && !layer_.released.Empty() && count <= kMaxHeldPieces) return HeldDraw::kLost;
    ReleaseHeld();
    return HeldDraw::kAll;
}

// The overlay as it was drawn, where only some of its blocks were put back or copied over: the
// pieces that touch those blocks, and any piece sharing a block with one of them, are drawn
// again in their order; the others are still held as they were drawn.
uint32_t ScreenBuffer::LostPieces(std::span<const HeldPiece> pieces) {
    uint32_t again = 0;
    for (size_t i = 0; i < pieces.size(); ++i)
        if (Meets(pieces[i], layer_.released)) again |= uint32_t(1) << i;
    for (bool grew = true; grew;) {
        grew = false;
        for (size_t i = 0; i < pieces.size(); ++i)
            for (size_t j = 0; j < pieces.size(); ++j)
                if ((again >> i & 1) && !(again >> j & 1) && Meets(pieces[i], pieces[j])) {
                    again |= uint32_t(1) << j;
                    grew = true;
                }
    }
    counts_.heldSkips += long(pieces.size()) - __builtin_popcount(again);
    return again;
}

void ScreenBuffer::EndHeld(std::span<const uint8_t> shows) {
    layer_.drawing = false;
    layer_.lost = false;
    layer_.current = true;
    layer_.released.Clear();
    const bool fits = shows.size() <= kMaxHeldShows;
    layer_.shownBytes = fits ? int(shows.size()) : -1;
    if (fits) std::copy(shows.begin(), shows.end(), layer_.shows.begin());
}

void ScreenBuffer::LoseDrawn() {
    if (!layer_.drew) return;
    layer_.drew = false;
    if (layer_.drawn.Empty()) return;
    copyMarks_ |= layer_.drawn;
    layer_.released |= layer_.drawn;
    layer_.lost = true;
    layer_.drawn.Clear();
}

BlockSet ScreenBuffer::TakeShown() {
    const BlockSet shown = shownMarks_;
    shownMarks_.Clear();
    return shown;
}

void ScreenBuffer::DropCaches() {
    // What the frame shows is put in its bytes: the background under sprites not drawn again,
    // and under an overlay not drawn in this frame.
    EndTick();
    MarkAll();
    layer_.drawn.Clear();
    layer_.lost = true;
    layer_.released.Clear();
    layer_.shownBytes = -1;
    repeats_.drawnCount = 0;
    copiedFrom_ = 0;
    cleared_ = false;
    fillColour_ = -1;
    unfilled_.Clear();
}

void ScreenBuffer::Load(std::span<const uint8_t> bytes) {
    DropCaches();
    // An empty picture (a graphics file without one) has no data pointer at all.
    if (!bytes.empty())
        std::memcpy(bytes_.data(), bytes.data(), std::min(bytes.size(), bytes_.size()));
}

void ScreenBuffer::SetSize(uint16_t width, uint16_t height) {
    Mark(0, 3);
    bytes_[0] = uint8_t(width);
    bytes_[1] = uint8_t(width >> 8);
    bytes_[2] = uint8_t(height);
    bytes_[3] = uint8_t(height >> 8);
}

void ScreenBuffer::Read(int x, int y, std::span<uint8_t> out) const {
    const long n = long(out.size()), off = long(y) * kScreenWidth + x;
    // Outside the buffer reads as the frame colour, as At has it.
    const long first = std::clamp(off, 0L, long(kScreenBytes)),
               last = std::clamp(off + n, 0L, long(kScreenBytes));
    std::fill(out.begin(), out.begin() + std::clamp(first - off, 0L, n), 208);
    std::fill(out.begin() + std::clamp(last - off, 0L, n), out.end(), 208);
    if (first >= last) return;
    std::memcpy(out.data() + (first - off), bytes_.data() + first, size_t(last - first));
    // Then the blocks that read from elsewhere.
    auto from = [&](const BlockSet& blocks, const uint8_t* bytes) {
        for (int w = int(first / kBlockBytes) >> 6; w <= int((last - 1) / kBlockBytes) >> 6; ++w)
            for (uint64_t bits = blocks.Word(w); bits; bits &= bits - 1) {
                const long at = long(w * 64 + __builtin_ctzll(bits)) * kBlockBytes;
                const long a = std::max(at, first), b = std::min(at + kBlockBytes, last);
                if (a < b) std::memcpy(out.data() + (a - off), bytes + a, size_t(b - a));
            }
    };
    if (repeats_.waiting) from(repeats_.pending, repeats_.source->bytes_.data());
    if (layer_.holding && !layer_.current) from(layer_.held, layer_.under.data());
}

void ScreenBuffer::CopyRun(int x, int y, const uint8_t* from, int count) {
    const long off = long(y) * kScreenWidth + x;
    const long first = std::max(off, 0L), last = std::min(off + count, long(kScreenBytes)) - 1;
    if (first > last) return;
    Mark(size_t(first), size_t(last));
    std::memcpy(bytes_.data() + first, from + (first - off), size_t(last - first + 1));
}

void ScreenBuffer::DrawSprite(int x, int y, const uint8_t* pixels, const SpriteInk& ink,
                              uint8_t colourOffset) {
    uint8_t* target = bytes_.data();
    const uint8_t* source = pixels;
    // Sixteen pixels at a time: 255 keeps the target, other pixels take the colour offset
    // unless they are 0 (byte arithmetic wraps modulo 256).
    typedef uint8_t Row __attribute__((vector_size(16)));
    const Row offset = Row{} + colourOffset;
    // The target offset is unsigned, as is the stop test after each row: a sprite reaching
    // below the screen draws into the slack after it and then stops.
    uint32_t o = uint32_t(y * kScreenWidth + x);
    if (uint64_t(o) + 15 * kScreenWidth <= uint64_t(kScreenPixels)) {
        const SpriteId id{
            .from = pixels, .at = o, .kind = SpriteId::kSprite, .colour = colourOffset};
        if (TakeKeptHere(id)) return;
        // Every row on the screen: the blocks that take a pixel are noted at once. A row that
        // reaches into the next block notes it only when a pixel there is not transparent.
        const int split = kBlockBytes - int(o % kBlockBytes);  // bytes of a row in its block
        const unsigned rows = ink.rows[size_t(std::min(split, 16) - 1)][0],
                       next = ink.rows[size_t(std::min(split, 16) - 1)][1];
        int w;
        uint64_t bits[4];
        RowBits(o, rows, next, w, bits);
        MarkSprite(id, w, bits);
        // Row by row down the sprite; a row that is all 255 writes nothing.
        auto draw = [&](auto recolour) {
            uint8_t* at = target + o;
            for (unsigned r = rows | next; r; r >>= 1, at += kScreenWidth, source += 16) {
                if (!(r & 1)) continue;
                Row v, old;
                std::memcpy(&v, source, 16);
                std::memcpy(&old, at, 16);
                const Row keep = Row(v == 255);
                const Row out = (old & keep) | (recolour(v) & ~keep);
                std::memcpy(at, &out, 16);
            }
        };
        if (colourOffset == 0)
            draw([](Row v) { return v; });
        else
            draw([&](Row v) { return v + (offset & ~Row(v == 0)); });
        return;
    }
    for (int row = 0; row < 16; ++row, source += 16) {
        if (o <= uint32_t(kScreenBytes - 16)) {
            uint64_t halves[2];
            std::memcpy(halves, source, 16);
            if ((halves[0] & halves[1]) != ~uint64_t(0)) {  // a row all transparent writes nothing
                Mark(o, o + 15);
                Row v, old;
                std::memcpy(&v, source, 16);
                std::memcpy(&old, target + o, 16);
                const Row keep = Row(v == 255);
                v = v + (offset & ~Row(v == 0));
                const Row out = (old & keep) | (v & ~keep);
                std::memcpy(target + o, &out, 16);
            }
        } else {
            for (int col = 0; col < 16; ++col) {  // a row reaching past the buffer's end
                uint8_t v = source[col];
                if (v == 255 || o + uint32_t(col) >= uint32_t(kScreenBytes)) continue;
                if (colourOffset != 0 && v != 0) v = uint8_t(v + colourOffset);
                Mark(o + uint32_t(col), o + uint32_t(col));
                target[o + uint32_t(col)] = v;
            }
        }
        o += kScreenWidth;
        if (o > uint32_t(kScreenPixels)) break;
    }
}

namespace {

// Eight pixels at a time: the ink bytes take the colour, the others keep theirs.
constexpr auto kInk = [] {
    std::array<uint64_t, 256> ink{};
    for (int b = 0; b < 256; ++b)
        for (int i = 0; i < 8; ++i)
            if (b & (0x80 >> i)) ink[size_t(b)] |= uint64_t(0xFF) << (8 * i);
    return ink;
}();

void Put8(uint8_t* at, unsigned byte, uint64_t paint) {
    if (byte == 0) return;
    const uint64_t ink = kInk[byte];
    uint64_t old;
    std::memcpy(&old, at, 8);
    old = (old & ~ink) | (paint & ink);
    std::memcpy(at, &old, 8);
}

// Bit r set for each byte r of `rows` that is not 0.
unsigned InkRows(uint64_t rows) {
    constexpr uint64_t kHigh = 0x8080808080808080u;
    const uint64_t any = (rows | ((rows & ~kHigh) + ~kHigh)) & kHigh;
    // Byte r's high bit, 8 r + 7, lands on bit 56 + r, and no two products meet.
    return unsigned((any >> 7) * 0x0102040810204080u >> 56);
}

}  // namespace

void ScreenBuffer::DrawGlyph(int x, int y, uint8_t colour, const unsigned* rows, int count,
                             int width, const uint8_t* from) {
    const size_t first = size_t(y) * kScreenWidth + size_t(x);
    const SpriteId id{.from = from,
                      .at = uint32_t(first),
                      .kind = SpriteId::kGlyph,
                      .colour = colour,
                      .rows = uint8_t(count),
                      .width = uint8_t(width)};
    if (TakeKeptHere(id)) return;
    // Columns before `split` are in the first block of a row, the others in the next.
    const int split = kBlockBytes - int(first % kBlockBytes);
    const unsigned inFirst = split >= width ? (1u << width) - 1 : ~((1u << (width - split)) - 1);
    unsigned left = 0, right = 0;
    for (int r = 0; r < count; ++r) {
        left |= unsigned((rows[r] & inFirst) != 0) << r;
        right |= unsigned((rows[r] & ~inFirst) != 0) << r;
    }
    int w;
    uint64_t bits[4];
    RowBits(first, left, right, w, bits);
    MarkSprite(id, w, bits);
    const uint64_t paint = uint64_t(colour) * 0x0101010101010101u;
    for (int r = 0; r < count; ++r) {
        uint8_t* row = bytes_.data() + first + size_t(r) * kScreenWidth;
        if (width == 16) {
            Put8(row, rows[r] >> 8, paint);
            Put8(row + 8, rows[r] & 0xFF, paint);
        } else {
            Put8(row, rows[r], paint);
        }
    }
}

void ScreenBuffer::PaintLine(const SpriteId& id, const LineGlyph* glyphs, int count) {
    const size_t y = id.at / kScreenWidth;
    // The glyphs' blocks, from the first glyph's first word: eight rows of a line lie within
    // three words of it.
    const int w0 = int((y * kScreenWidth + size_t(glyphs[0].x)) / kBlockBytes) >> 6;
    uint64_t all[4] = {};
    for (int i = 0; i < count; ++i) {
        const size_t first = y * kScreenWidth + size_t(glyphs[i].x);
        const int split = kBlockBytes - int(first % kBlockBytes);
        const uint64_t inFirst =
            split >= 8 ? ~uint64_t(0)
                       : uint64_t(0xFF & ~((1u << (8 - split)) - 1)) * 0x0101010101010101u;
        const uint64_t rows = glyphs[i].rows;
        int w;
        uint64_t bits[4];
        RowBits(first, InkRows(rows & inFirst), InkRows(rows & ~inFirst), w, bits);
        for (int k = 0; k < 4; ++k)
            if (bits[k]) all[w - w0 + k] |= bits[k];
    }
    MarkSprite(id, w0, all);
    const uint64_t paint = uint64_t(id.colour) * 0x0101010101010101u;
    for (int i = 0; i < count; ++i) {
        uint8_t* row = bytes_.data() + y * kScreenWidth + size_t(glyphs[i].x);
        for (int r = 0; r < id.rows; ++r, row += kScreenWidth)
            Put8(row, unsigned(glyphs[i].rows >> (8 * r)) & 0xFF, paint);
    }
}

SpriteInk InkOf(const uint8_t* sprite) {
    SpriteInk ink;
    for (int row = 0; row < 16; ++row) {
        unsigned columns = 0;  // bit c: ink in column c
        for (int col = 0; col < 16; ++col)
            columns |= unsigned(sprite[row * 16 + col] != 255) << col;
        for (unsigned split = 1; split <= 16; ++split) {
            const unsigned first = (1u << split) - 1;
            ink.rows[split - 1][0] |= uint16_t(unsigned((columns & first) != 0) << row);
            ink.rows[split - 1][1] |= uint16_t(unsigned((columns & ~first) != 0) << row);
        }
    }
    return ink;
}

void WorkBitmap::Resize(int w, int h) {
    width = w;
    height = h;
    const size_t count = size_t(w) * size_t(h);
    if (pixels.size() == count)
        std::memset(pixels.data(), 0, count * sizeof(uint16_t));  // the common case, and quick
    else
        pixels.assign(count, 0);
}

void BuildPixelTable(const Palette& palette, bool rgb565, PixelTable& table) {
    for (int i = 0; i < 256; ++i) {
        unsigned r = palette[i * 3], g = palette[i * 3 + 1], b = palette[i * 3 + 2];
        unsigned v =
            rgb565 ? (r / 2) * 2048 + g * 32 + b / 2 : (r / 2) * 1024 + (g / 2) * 32 + b / 2;
        table[i] = uint16_t(v);
    }
}

// The blocks CopyToFrame covers, a word at a time: never the slack after the screen.
constexpr auto kCopiedWords = [] {
    std::array<uint64_t, BlockSet::kWords> words{};
    for (int w = 0; w < BlockSet::kWords; ++w) {
        const int blocks = std::clamp(kCopiedBlocks - w * 64, 0, 64);
        words[size_t(w)] = blocks == 64 ? ~uint64_t(0) : ~(~uint64_t(0) << blocks);
    }
    return words;
}();

void FillScreen(ScreenBuffer& buffer, uint8_t colour) {
    buffer.cleared_ = false;
    if (!buffer.layer_.drawing) buffer.LoseDrawn();
    if (buffer.copiedFrom_ || buffer.repeats_.on || buffer.layer_.drawing ||
        buffer.layer_.holding) {
        // A frame: copies come into it unnoted, and what it shows is more than its bytes.
        buffer.fillColour_ = -1;
        buffer.Mark(0, kScreenPixels - 1);
        std::memset(buffer.bytes_.data(), colour, kScreenPixels);
        return;
    }
    // The same colour: only what was drawn on it since.
    const bool part = buffer.fillColour_ == colour;
    BlockSet again;
    if (part) {
        again = buffer.unfilled_;
        again |= buffer.copyMarks_;
        for (int w = 0; w < BlockSet::kWords; ++w)
            again.SetWord(w, again.Word(w) & kCopiedWords[size_t(w)]);
    } else {
        again.AddRange(0, kCopiedBlocks - 1);
    }
    if (buffer.keeper_.frame)
        buffer.keeper_.frame->SourceWrites(0, again.Words(), BlockSet::kWords);
    if (part) {
        again.ForEach([&](int block) {
            std::memset(buffer.bytes_.data() + size_t(block) * kBlockBytes, colour, kBlockBytes);
        });
        ++buffer.counts_.partFills;
    } else {
        std::memset(buffer.bytes_.data(), colour, kScreenPixels);
    }
    buffer.fillMarks_ |= again;
    buffer.shownMarks_ |= again;
    buffer.copyMarks_.Remove(again);
    buffer.unfilled_.Clear();
    buffer.fillColour_ = colour;
    buffer.filled_ = true;
}

namespace {

// What a cleared frame shows under what was drawn on it since: what its kept sprites are put
// back to. Never destroyed, as frames that outlive other static objects may still read it.
const ScreenBuffer& kBlankScreen = *new ScreenBuffer();

// A sprite's four words of marks as one vector, and its blocks' words of a set.
typedef uint64_t Words __attribute__((vector_size(32)));
void OrAt(Words& v, const BlockSet& set, int w) {
    Words words;
    std::memcpy(&words, set.Words() + w, sizeof words);
    v |= words;
}

// The sprites drawn since the frame last took a copy from `source` (or was cleared) that alone
// wrote their blocks, where the source did not change either, stay in the frame until they are
// drawn again or the tick ends: their blocks wait, pending, and are not copied. `known` false:
// none stays. The notes of who drew where start again. The frame's blocks that others wrote,
// or that the overlay holds or drew, are in `a` to `e`.
KDV_WIDE_WORDS void KeepAlone(SpriteRepeats& r, bool known, const BlockSet& a, const BlockSet& b,
                              const BlockSet& c, const BlockSet& d, const BlockSet& e) {
    r.nextKept = 0;
    r.pending.Clear();
    int n = 0;
    uint64_t keys = 0;
    for (int i = 0; known && i < r.drawnCount; ++i) {
        const SpriteRepeats::Drawn& sprite = r.drawn[size_t(i)];
        Words bits;
        std::memcpy(&bits, sprite.bits, sizeof bits);
        Words touched{};
        OrAt(touched, a, sprite.word);
        OrAt(touched, b, sprite.word);
        OrAt(touched, c, sprite.word);
        OrAt(touched, d, sprite.word);
        OrAt(touched, e, sprite.word);
        touched &= bits;
        if (touched[0] | touched[1] | touched[2] | touched[3]) continue;
        keys |= SpriteRepeats::KeyBit(sprite.id);
        r.waits[size_t(n)] = true;
        r.kept[size_t(n++)] = sprite;
        Words marks = bits;
        OrAt(marks, r.pending, sprite.word);
        std::memcpy(r.pending.Words() + sprite.word, &marks, sizeof marks);
    }
    r.keptCount = n;
    r.keptKeys = keys;
    r.waiting = n;
    r.on = true;
    r.drawnCount = 0;
    r.once.Clear();
    r.shared.Clear();
}

}  // namespace

void ScreenBuffer::KeepSprites(const ScreenBuffer& source, bool known) {
    repeats_.source = &source;
    KeepAlone(repeats_, repeats_.on && known, repeats_.shared, source.copyMarks_, source.fillMarks_,
              layer_.held, layer_.drawn);
}

void ClearFrame(ScreenBuffer& frame) {
    if (frame.keeper_.frame) frame.keeper_.frame->PutBackWaiting();
    frame.EndTick();
    if (frame.layer_.drawing) return FillScreen(frame, 0);
    frame.layer_.current = false;
    frame.LoseDrawn();
    SpriteRepeats& repeats = frame.repeats_;
    if (!frame.cleared_) {
        FillScreen(frame, 0);
        frame.copyMarks_.Clear();
        frame.cleared_ = true;
        // From here the frame is as if copied from a blank screen: what is drawn on it again
        // where it was (the stage's caption) is kept, as over a copy.
        frame.KeepSprites(kBlankScreen, false);
        return;
    }
    // What alone wrote its blocks since the last clear stays, as over a copy.
    frame.KeepSprites(kBlankScreen, repeats.on && repeats.source == &kBlankScreen);
    // Every block written since the last clear went through Mark: the notes and what the
    // overlay holds; not the kept sprites' blocks.
    BlockSet again = frame.copyMarks_;
    again |= frame.layer_.held;
    again.Remove(repeats.pending);
    again.ForEach([&](int block) {
        if (block >= kCopiedBlocks) return;  // the slack is never cleared
        frame.MarkBlock(block);
        std::memset(frame.bytes_.data() + size_t(block) * kBlockBytes, 0, kBlockBytes);
    });
    frame.copyMarks_.Clear();
    // The clear is no writer: what is drawn next is the first to write there.
    repeats.once.Clear();
    repeats.shared.Clear();
}

namespace {

struct CopyPlan {
    uint64_t lost = 0;  // blocks of the held overlay the copy goes over
    uint64_t kept = 0;  // blocks the overlay drew that it now holds
    uint64_t held = 0;  // any block held
};

// What CopyToFrame copies, word by word: what either buffer wrote (or everything, `all`), the
// held overlay too when `release`, never a pending block nor the slack. The notes are taken in,
// and the held overlay's with them: where the copy goes over it, it is lost; what it drew where
// the copy does not go is held from now on. The sets are told apart (`__restrict`) so that this
// goes a few words at a time.
KDV_WIDE_WORDS CopyPlan PlanCopy(uint64_t* __restrict copy, uint64_t all, uint64_t release,
                                 uint64_t* __restrict frameMarks, uint64_t* __restrict sourceMarks,
                                 uint64_t* __restrict sourceFills,
                                 uint64_t* __restrict sourceUnfilled, uint64_t* __restrict shown,
                                 const uint64_t* __restrict pending, uint64_t* __restrict held,
                                 uint64_t* __restrict drawn, uint64_t* __restrict released) {
    uint64_t lost = 0, kept = 0, any = 0;
    for (int w = 0; w < BlockSet::kWords; ++w) {
        const uint64_t c =
            (all | frameMarks[w] | sourceMarks[w] | sourceFills[w] | (held[w] & release)) &
            ~pending[w] & kCopiedWords[size_t(w)];
        copy[w] = c;
        sourceUnfilled[w] |= sourceMarks[w];
        frameMarks[w] = sourceMarks[w] = sourceFills[w] = 0;
        shown[w] |= c;
        const uint64_t over = (held[w] | drawn[w]) & c;
        lost |= over;
        released[w] |= over;
        const uint64_t stays = held[w] & ~c;
        const uint64_t newly = drawn[w] & ~c & ~stays;  // `under` takes what the copy would give
        kept |= newly;
        drawn[w] = newly;
        held[w] = stays | newly;
        any |= stays | newly;
    }
    return {lost, kept, any};
}

// A fixed-size copy, so that it is a few moves and never a string instruction (nor a trip
// through the stack, as a 32-byte vector is without AVX).
void CopyBlock(uint8_t* to, const uint8_t* from) {
    typedef uint8_t Half __attribute__((vector_size(kBlockBytes / 2)));
    Half a, b;
    std::memcpy(&a, from, sizeof a);
    std::memcpy(&b, from + sizeof a, sizeof b);
    std::memcpy(to, &a, sizeof a);
    std::memcpy(to + sizeof a, &b, sizeof b);
}

}  // namespace

void CopyToFrame(ScreenBuffer& frame, ScreenBuffer& source) {
    const auto from = reinterpret_cast<uintptr_t>(&source);
    // Another source, or a frame copied in from elsewhere: nothing is known. Nothing is kept
    // over a frame, whose own kept sprites may be put back under them.
    const bool whole =
        frame.copiedFrom_ != from || frame.cleared_ || source.cleared_ || source.repeats_.on;
    if (frame.keeper_.frame) frame.keeper_.frame->PutBackWaiting();
    frame.copiedFrom_ = from;
    frame.fillColour_ = -1;
    frame.cleared_ = source.cleared_ = false;
    uint8_t* to = frame.bytes_.data();
    const uint8_t* in = source.bytes_.data();
    HeldLayer& layer = frame.layer_;

    // Sprites that alone wrote their blocks, over a background that did not change there, stay
    // in the frame until they are drawn again or the tick ends.
    frame.EndTick();
    layer.current = false;
    frame.KeepSprites(source, !whole);
    if (frame.repeats_.waiting) source.keeper_.frame = &frame;
    // The notes a word of 64 blocks at a time, in passes simple enough to be done two or
    // four words at once: what to copy, the copy, the overlay.
    constexpr int kWords = BlockSet::kWords;
    uint64_t copy[kWords];
    // A filled background is a new picture: the held overlay is copied over, as a fill of
    // every block would have it.
    const CopyPlan plan = PlanCopy(
        copy, whole ? ~uint64_t(0) : 0, source.filled_ ? ~uint64_t(0) : 0, frame.copyMarks_.Words(),
        source.copyMarks_.Words(), source.fillMarks_.Words(), source.unfilled_.Words(),
        frame.shownMarks_.Words(), frame.repeats_.pending.Words(), layer.held.Words(),
        layer.drawn.Words(), layer.released.Words());
    source.filled_ = false;
    for (int w = 0; w < kWords; ++w)
        for (uint64_t bits = copy[w]; bits; bits &= bits - 1) {
            const size_t offset = size_t(w * 64 + __builtin_ctzll(bits)) * kBlockBytes;
            CopyBlock(to + offset, in + offset);
        }

    // The overlay drawn since the last copy is held where nothing else wrote, with what the
    // copy would have put under it; where the copy went over it, it has to be drawn again.
    if (plan.lost) layer.lost = true;
    layer.holding = plan.held != 0;
    if (plan.kept) {
        const uint64_t* drawn = layer.drawn.Words();
        if (layer.under.size() != size_t(kScreenBytes)) layer.under.assign(kScreenBytes, 0);
        for (int w = 0; w < kWords; ++w)
            for (uint64_t bits = drawn[w]; bits; bits &= bits - 1) {
                const size_t offset = size_t(w * 64 + __builtin_ctzll(bits)) * kBlockBytes;
                CopyBlock(layer.under.data() + offset, in + offset);
            }
    }
    layer.drawn.Clear();
    layer.drew = false;
}

void PutBackPixel(ScreenBuffer& back, int x, int y, uint8_t colour) {
    if (x >= 0 && x < kScreenWidth && y >= 0 && y < kScreenHeight) back.Set(x, y, colour);
}

// Lines are clipped pixel by pixel; the loops skip the part that cannot be on the screen.
void DrawBackHLine(ScreenBuffer& back, int x1, int x2, int y, uint8_t colour) {
    x1 = std::max(x1, 0);
    x2 = std::min(x2, kScreenWidth - 1);
    if (y < 0 || y >= kScreenHeight || x1 > x2) return;
    back.SetRun(x1, y, x2 - x1 + 1, colour);
}

void DrawBackVLine(ScreenBuffer& back, int x, int y1, int y2, uint8_t colour) {
    for (int y = std::max(y1, 0); y <= std::min(y2, kScreenHeight - 1); ++y)
        PutBackPixel(back, x, y, colour);
}

void DrawSunkenFrame(ScreenBuffer& back, int x1, int y1, int x2, int y2) {
    DrawBackHLine(back, x1, x2, y1, 8);
    DrawBackVLine(back, x2, y1 + 1, y2, 15);
    DrawBackHLine(back, x1, x2, y2, 15);
    DrawBackVLine(back, x1, y1, y2 - 1, 8);
}

void FillBackRect(ScreenBuffer& back, int x1, int y1, int x2, int y2, uint8_t colour) {
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    for (int y = std::max(y1, 0); y <= std::min(y2, kScreenHeight - 1); ++y)
        DrawBackHLine(back, x1, x2, y, colour);
}

void BlitPicture(ScreenBuffer& back, int x, int y, const ScreenBuffer& picture, int maxPixels) {
    const int width = picture.Width();
    const int height = picture.Height();
    if (width == 0) return;
    const int rows = std::min(height, maxPixels / width);
    // The last row may be cut short by the pixels the picture holds.
    for (int row = 0; row <= rows && row < height; ++row)
        back.CopyRun(x, y + row, picture.Bytes().data() + 4 + long(row) * width,
                     std::min(width, maxPixels - row * width));
}

void PixelToRgb(uint16_t pixel, bool rgb565, uint8_t rgb[3]) {
    unsigned r, g, b;
    if (rgb565) {
        r = (pixel >> 11) & 31;
        g = (pixel >> 5) & 63;
        b = pixel & 31;
        rgb[1] = uint8_t(g << 2 | g >> 4);
    } else {
        r = (pixel >> 10) & 31;
        g = (pixel >> 5) & 31;
        b = pixel & 31;
        rgb[1] = uint8_t(g << 3 | g >> 2);
    }
    rgb[0] = uint8_t(r << 3 | r >> 2);
    rgb[2] = uint8_t(b << 3 | b >> 2);
}

}  // namespace kdv
