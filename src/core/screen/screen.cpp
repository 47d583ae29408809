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
    if (repeats.on) {
        if (repeats.pending.Intersects(range)) {
            BlockSet back = repeats.pending;
            back &= range;
            back.ForEach([this](int block) {
                if (repeats.pending.Has(block)) PutBackPending(block);
            });
        }
        repeats.shared |= range;
    }
    if (layer.held.Intersects(range)) {
        BlockSet released = layer.held;
        released &= range;
        released.ForEach([this](int block) { Release(block); });
    }
    (layer.drawing ? layer.drawn : copyMarks) |= range;
    shownMarks |= range;
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

void TakeKept(uint64_t* __restrict pending, uint64_t* __restrict once, uint64_t* __restrict marks,
              const uint64_t* __restrict bits) {
    for (int k = 0; k < 4; ++k) {
        pending[k] &= ~bits[k];
        once[k] |= bits[k];
        marks[k] |= bits[k];
    }
}

}  // namespace

void ScreenBuffer::MarkBits(int w0, const uint64_t bits[4], bool sprite) {
    // Every block is on the screen: the words past the last are never set.
    if (repeats.on) {
        const uint64_t* pending = repeats.pending.Words() + w0;
        if ((pending[0] & bits[0]) | (pending[1] & bits[1]) | (pending[2] & bits[2]) |
            (pending[3] & bits[3]))
            for (int k = 0; k < 4; ++k)
                for (uint64_t p = repeats.pending.Word(w0 + k) & bits[k]; p; p &= p - 1)
                    if (const int block = (w0 + k) * 64 + __builtin_ctzll(p);
                        repeats.pending.Has(block))
                        PutBackPending(block);
        NoteWriters(repeats.once.Words() + w0, repeats.shared.Words() + w0, bits, sprite);
    }
    const uint64_t* held = layer.held.Words() + w0;
    if ((held[0] & bits[0]) | (held[1] & bits[1]) | (held[2] & bits[2]) | (held[3] & bits[3]))
        for (int k = 0; k < 4; ++k)
            for (uint64_t h = layer.held.Word(w0 + k) & bits[k]; h; h &= h - 1)
                Release((w0 + k) * 64 + __builtin_ctzll(h));
    AddBoth((layer.drawing ? layer.drawn : copyMarks).Words() + w0, shownMarks.Words() + w0, bits);
}

void ScreenBuffer::MarkRows(size_t first, unsigned rows, unsigned next) {
    int w;
    uint64_t bits[4];
    RowBits(first, rows, next, w, bits);
    MarkBits(w, bits, false);
}

bool ScreenBuffer::SpriteKept(uint64_t key, const uint8_t* from, const uint64_t* text) {
    if (repeats.waiting == 0 || !(repeats.keptKeys & SpriteRepeats::KeyBit(key))) return false;
    // A sprite's key is never a text's, so only a text's characters need comparing.
    auto same = [&](int i) {
        const SpriteRepeats::Drawn& k = repeats.kept[size_t(i)];
        return repeats.waitingKeys[size_t(i)] == key && k.from == from &&
               (!text || (k.text[0] == text[0] && k.text[1] == text[1]));
    };
    int i = repeats.nextKept;
    if (i >= repeats.keptCount || !same(i))
        for (i = 0; i < repeats.keptCount && !same(i);) ++i;
    if (i == repeats.keptCount) return false;
    repeats.nextKept = i + 1;
    if (layer.drawing || repeats.drawnCount == SpriteRepeats::kMaxSprites) return false;
    // The frame shows it, and nothing was drawn there since the copy: it is as drawn now.
    repeats.waitingKeys[size_t(i)] = SpriteRepeats::kNoKey;
    --repeats.waiting;
    const SpriteRepeats::Drawn& kept = repeats.kept[size_t(i)];
    TakeKept(repeats.pending.Words() + kept.word, repeats.once.Words() + kept.word,
             copyMarks.Words() + kept.word, kept.bits);
    repeats.drawn[size_t(repeats.drawnCount++)] = kept;
    return true;
}

void ScreenBuffer::MarkSprite(size_t first, unsigned rows, unsigned next, uint64_t key,
                              const uint8_t* from) {
    int w;
    uint64_t bits[4];
    RowBits(first, rows, next, w, bits);
    MarkSpriteBits(w, bits, key, from);
}

void ScreenBuffer::MarkSpriteBits(int w, const uint64_t bits[4], uint64_t key, const uint8_t* from,
                                  const uint64_t* text) {
    if (!repeats.on || layer.drawing) return MarkBits(w, bits, false);
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
    if (onScreen && repeats.drawnCount < SpriteRepeats::kMaxSprites) {
        SpriteRepeats::Drawn& d = repeats.drawn[size_t(repeats.drawnCount++)];
        d.key = key;
        d.from = from;
        d.word = w;
        for (int k = 0; k < 4; ++k) d.bits[k] = bits[k];
        d.text[0] = text ? text[0] : 0;
        d.text[1] = text ? text[1] : 0;
    } else {
        uint64_t* shared = repeats.shared.Words() + w;
        for (int k = 0; k < 4; ++k) shared[k] |= bits[k];
    }
}

void ScreenBuffer::PutBack(int i) {
    repeats.waitingKeys[size_t(i)] = SpriteRepeats::kNoKey;
    --repeats.waiting;
    const SpriteRepeats::Drawn& sprite = repeats.kept[size_t(i)];
    for (int k = 0; k < 4; ++k) {
        const int w = sprite.word + k;
        for (uint64_t b = sprite.bits[k]; b; b &= b - 1) {
            const size_t at = size_t(w * 64 + __builtin_ctzll(b)) * kBlockBytes;
            std::memcpy(bytes.data() + at, repeats.source->bytes.data() + at, kBlockBytes);
        }
        repeats.pending.SetWord(w, repeats.pending.Word(w) & ~sprite.bits[k]);
        shownMarks.SetWord(w, shownMarks.Word(w) | sprite.bits[k]);
    }
}

void ScreenBuffer::PutBackPending(int block) {
    for (int i = 0; i < repeats.keptCount; ++i) {
        const SpriteRepeats::Drawn& kept = repeats.kept[size_t(i)];
        const int k = (block >> 6) - kept.word;
        if (repeats.waitingKeys[size_t(i)] != SpriteRepeats::kNoKey && k >= 0 && k < 4 &&
            kept.bits[k] >> (block & 63) & 1)
            return PutBack(i);
    }
}

void ScreenBuffer::EndTick() {
    if (repeats.waiting == 0) return;
    for (int i = 0; i < repeats.keptCount; ++i)
        if (repeats.waitingKeys[size_t(i)] != SpriteRepeats::kNoKey) PutBack(i);
}

void ScreenBuffer::Release(int block) {
    const size_t at = size_t(block) * kBlockBytes;
    const size_t count = std::min<size_t>(kBlockBytes, kScreenBytes - at);
    std::memcpy(bytes.data() + at, layer.under.data() + at, count);
    layer.held.Drop(block);
    layer.lost = true;
    layer.released.Add(block);
    // The bytes are back to what the copy left there; only the presenter has to know.
    shownMarks.Add(block);
}

void ScreenBuffer::ReleaseHeld() {
    layer.held.ForEach([this](int block) {
        const size_t at = size_t(block) * kBlockBytes;
        std::memcpy(bytes.data() + at, layer.under.data() + at,
                    std::min<size_t>(kBlockBytes, kScreenBytes - at));
    });
    shownMarks |= layer.held;
    layer.held.Clear();
    layer.lost = true;
}

void ScreenBuffer::SetSize(uint16_t width, uint16_t height) {
    Mark(0, 3);
    bytes[0] = uint8_t(width);
    bytes[1] = uint8_t(width >> 8);
    bytes[2] = uint8_t(height);
    bytes[3] = uint8_t(height >> 8);
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
    buffer.cleared = false;
    if (buffer.copiedFrom || buffer.repeats.on || buffer.layer.drawing ||
        !buffer.layer.held.Empty()) {
        // A frame: copies come into it unnoted, and what it shows is more than its bytes.
        buffer.fillColour = -1;
        buffer.Mark(0, kScreenPixels - 1);
        std::memset(buffer.bytes.data(), colour, kScreenPixels);
        return;
    }
    BlockSet again;
    if (buffer.fillColour == colour) {
        // The same colour: only what was drawn on it since.
        again = buffer.unfilled;
        again |= buffer.copyMarks;
        for (int w = 0; w < BlockSet::kWords; ++w)
            again.SetWord(w, again.Word(w) & kCopiedWords[size_t(w)]);
        again.ForEach([&](int block) {
            std::memset(buffer.bytes.data() + size_t(block) * kBlockBytes, colour, kBlockBytes);
        });
    } else {
        again.AddRange(0, kCopiedBlocks - 1);
        std::memset(buffer.bytes.data(), colour, kScreenPixels);
    }
    buffer.fillMarks |= again;
    buffer.shownMarks |= again;
    buffer.copyMarks.Remove(again);
    buffer.unfilled.Clear();
    buffer.fillColour = colour;
    buffer.filled = true;
}

namespace {

// What a cleared frame shows under what was drawn on it since: what its kept sprites are put
// back to.
const ScreenBuffer kBlankScreen{};

// The sprites drawn since the frame last took a copy from `source` (or was cleared) that alone
// wrote their blocks, where the source did not change either, stay in the frame until they are
// drawn again or the tick ends: their blocks wait, pending, and are not copied. `known` false:
// none stays. The notes of who drew where start again.
KDV_WIDE_WORDS void KeepSprites(ScreenBuffer& frame, const ScreenBuffer& source, bool known) {
    SpriteRepeats& repeats = frame.repeats;
    const HeldLayer& layer = frame.layer;
    repeats.source = &source;
    repeats.nextKept = 0;
    repeats.pending.Clear();
    // A sprite's four words of marks as one vector, and its blocks' words of a set.
    typedef uint64_t Words __attribute__((vector_size(32)));
    auto orAt = [](Words& v, const BlockSet& set, int w) {
        Words words;
        std::memcpy(&words, set.Words() + w, sizeof words);
        v |= words;
    };
    int kept = 0;
    uint64_t keys = 0;
    if (repeats.on && known)
        for (int i = 0; i < repeats.drawnCount; ++i) {
            const SpriteRepeats::Drawn& d = repeats.drawn[size_t(i)];
            Words bits;
            std::memcpy(&bits, d.bits, sizeof bits);
            Words others{};
            orAt(others, repeats.shared, d.word);
            orAt(others, source.copyMarks, d.word);
            orAt(others, source.fillMarks, d.word);
            orAt(others, layer.held, d.word);
            orAt(others, layer.drawn, d.word);
            const Words touched = bits & others;
            if (touched[0] | touched[1] | touched[2] | touched[3]) continue;
            repeats.waitingKeys[size_t(kept)] = d.key;
            keys |= SpriteRepeats::KeyBit(d.key);
            repeats.kept[size_t(kept++)] = d;
            Words pending = bits;
            orAt(pending, repeats.pending, d.word);
            std::memcpy(repeats.pending.Words() + d.word, &pending, sizeof pending);
        }
    repeats.keptCount = kept;
    repeats.keptKeys = keys;
    repeats.waiting = kept;
    repeats.on = true;
    repeats.drawnCount = 0;
    repeats.once.Clear();
    repeats.shared.Clear();
}

}  // namespace

void ClearFrame(ScreenBuffer& frame) {
    frame.EndTick();
    if (frame.layer.drawing) return FillScreen(frame, 0);
    SpriteRepeats& repeats = frame.repeats;
    if (!frame.cleared) {
        FillScreen(frame, 0);
        frame.copyMarks.Clear();
        frame.cleared = true;
        // From here the frame is as if copied from a blank screen: what is drawn on it again
        // where it was (the stage's caption) is kept, as over a copy.
        KeepSprites(frame, kBlankScreen, false);
        return;
    }
    // What alone wrote its blocks since the last clear stays, as over a copy.
    KeepSprites(frame, kBlankScreen, repeats.on && repeats.source == &kBlankScreen);
    // Every block written since the last clear went through Mark: the notes, what the overlay
    // drew and what it holds; not the kept sprites' blocks.
    BlockSet again = frame.copyMarks;
    again |= frame.layer.drawn;
    again |= frame.layer.held;
    again.Remove(repeats.pending);
    again.ForEach([&](int block) {
        if (block >= kCopiedBlocks) return;  // the slack is never cleared
        frame.MarkBlock(block);
        std::memset(frame.bytes.data() + size_t(block) * kBlockBytes, 0, kBlockBytes);
    });
    frame.copyMarks.Clear();
    // The clear is no writer: what is drawn next is the first to write there.
    repeats.once.Clear();
    repeats.shared.Clear();
}

namespace {

struct CopyPlan {
    uint64_t lost = 0;  // blocks of the held overlay the copy goes over
    uint64_t kept = 0;  // blocks the overlay drew that it now holds
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
    uint64_t lost = 0, kept = 0;
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
    }
    return {lost, kept};
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
    // Another source, or a frame copied in from elsewhere: nothing is known.
    const bool whole = frame.copiedFrom != from || frame.cleared || source.cleared;
    frame.copiedFrom = from;
    frame.fillColour = -1;
    frame.cleared = source.cleared = false;
    uint8_t* to = frame.bytes.data();
    const uint8_t* in = source.bytes.data();
    HeldLayer& layer = frame.layer;

    // Sprites that alone wrote their blocks, over a background that did not change there, stay
    // in the frame until they are drawn again or the tick ends.
    frame.EndTick();
    KeepSprites(frame, source, !whole);
    SpriteRepeats& repeats = frame.repeats;
    // The notes a word of 64 blocks at a time, in passes simple enough to be done two or
    // four words at once: what to copy, the copy, the overlay.
    constexpr int kWords = BlockSet::kWords;
    uint64_t copy[kWords];
    // A filled background is a new picture: the held overlay is copied over, as a fill of
    // every block would have it.
    const CopyPlan plan =
        PlanCopy(copy, whole ? ~uint64_t(0) : 0, source.filled ? ~uint64_t(0) : 0,
                 frame.copyMarks.Words(), source.copyMarks.Words(), source.fillMarks.Words(),
                 source.unfilled.Words(), frame.shownMarks.Words(), repeats.pending.Words(),
                 layer.held.Words(), layer.drawn.Words(), layer.released.Words());
    source.filled = false;
    for (int w = 0; w < kWords; ++w)
        for (uint64_t bits = copy[w]; bits; bits &= bits - 1) {
            const size_t offset = size_t(w * 64 + __builtin_ctzll(bits)) * kBlockBytes;
            CopyBlock(to + offset, in + offset);
        }

    // The overlay drawn since the last copy is held where nothing else wrote, with what the
    // copy would have put under it; where the copy went over it, it has to be drawn again.
    if (plan.lost) layer.lost = true;
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
}

void PutBackPixel(ScreenBuffer& back, int x, int y, uint8_t colour) {
    if (x >= 0 && x < kScreenWidth && y >= 0 && y < kScreenHeight) back.Set(x, y, colour);
}

// Lines are clipped pixel by pixel; the loops skip the part that cannot be on the screen.
void DrawBackHLine(ScreenBuffer& back, int x1, int x2, int y, uint8_t colour) {
    x1 = std::max(x1, 0);
    x2 = std::min(x2, kScreenWidth - 1);
    if (y < 0 || y >= kScreenHeight || x1 > x2) return;
    back.Mark(size_t(y * kScreenWidth + x1), size_t(y * kScreenWidth + x2));
    std::memset(back.bytes.data() + size_t(y * kScreenWidth + x1), colour, size_t(x2 - x1 + 1));
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
    for (int row = 0; row <= rows && row < height; ++row) {
        // The last row may be cut short by the pixels the picture holds.
        const int count = std::min(width, maxPixels - row * width);
        long target = long(y + row) * kScreenWidth + x;
        long first = std::max(0L, -target), last = std::min<long>(count, kScreenBytes - target);
        if (first >= last) continue;
        back.Mark(size_t(target + first), size_t(target + last - 1));
        std::memcpy(back.bytes.data() + target + first,
                    picture.bytes.data() + 4 + long(row) * width + first, size_t(last - first));
    }
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
