#include "testkit/screen_program.h"

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "core/field/map.h"
#include "core/game.h"
#include "core/screen/font.h"
#include "core/screen/graphics_pack.h"
#include "core/screen/present.h"
#include "core/screen/screen.h"

namespace testkit {
namespace {

using kdv::Game;
using kdv::ScreenBuffer;

// The program's bytes one at a time; past the end every byte is 0.
class Reader {
  public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    bool More() const { return at_ < bytes_.size(); }
    uint8_t Byte() { return at_ < bytes_.size() ? bytes_[at_++] : 0; }
    int Below(int n) { return Byte() % n; }
    // lo..hi, both included.
    int Range(int lo, int hi) { return lo + int((Byte() | Byte() << 8) % unsigned(hi - lo + 1)); }

  private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
};

// Something the frame draws every tick, as a tank or a caption is drawn.
struct Item {
    enum Kind { kSprite, kText, kWideGlyph } kind = kSprite;
    int x = 0, y = 0;
    int sprite = 0;  // the sprite, or the wide glyph's character
    uint8_t colour = 0;
    std::string text;
};

using Piece = ScreenTwins::Piece;

class Program {
  public:
    Program(std::span<const uint8_t> bytes, Game& cached, Game& plain, ScreenProgramCounts& counts)
        : in_(bytes), twins_(cached, plain, counts), counts_(counts) {}

    std::string Run() {
        backColour_ = in_.Byte();
        const bool small = in_.Below(2);
        twins_.Step("the display's size", [=](Game& g) { g.Settings.smallScreen = small; });
        for (int n = 1 + in_.Below(10); n > 0; --n) items_.push_back(NewItem());
        for (int n = in_.Below(ScreenTwins::kMaxPieces + 1); n > 0; --n)
            pieces_.push_back(NewPiece());
        while (in_.More() && Failure().empty()) Frame();
        return Failure();
    }

  private:
    using Op = std::function<void(Game&)>;

    const std::string& Failure() const { return twins_.Failure(); }
    void Step(const std::string& what, const Op& op, bool back = false) {
        twins_.Step(what, op, back);
    }
    void Read(int x, int y) { twins_.Read(x, y); }
    void DrawOverlay() { twins_.Overlay(pieces_); }
    void Present() { twins_.Present(); }

    // A tick of the frame: the background drawn on, the frame started from it, the items drawn
    // with other drawing and reads between them, the overlay, the present; then the scene
    // changes a little, as a game's does.
    void Frame() {
        ++counts_.frames;
        const int backOps = in_.Below(4);
        if (in_.Below(4) != 0) FillBack();
        for (int k = 0; k < backOps; ++k) BackOp();
        const bool fillAfter = in_.Below(3) == 0;
        StartFrame();
        // The overlay anywhere among the items (the game draws it last), or not at all.
        const size_t overlayAt = in_.Below(5) == 0 ? ~size_t(0) : in_.Below(int(items_.size()) + 1);
        for (size_t i = 0; i <= items_.size() && Failure().empty(); ++i) {
            if (i == overlayAt) DrawOverlay();
            if (i == items_.size()) break;
            while (in_.More() && in_.Below(4) == 0 && Failure().empty()) Between();
            DrawItem(items_[i]);
        }
        if (fillAfter) FillBack();
        Present();
        Change();
    }

    void StartFrame() {
        switch (in_.Below(10)) {
            case 7:
            case 8:
                return Step("clear the frame", [](Game& g) { kdv::ClearFrame(g.FrameScreen); });
            case 9: {
                const uint8_t colour = in_.Byte();
                return Step("fill the frame",
                            [=](Game& g) { kdv::FillScreen(g.FrameScreen, colour); });
            }
            default:
                return Step("copy the background",
                            [](Game& g) { kdv::CopyToFrame(g.FrameScreen, g.BackScreen); });
        }
    }

    void FillBack() {
        // Mostly the colour the background is filled with every tick, as the title's is.
        const uint8_t colour = in_.Below(8) == 0 ? in_.Byte() : backColour_;
        Step(
            "fill the background", [=](Game& g) { kdv::FillScreen(g.BackScreen, colour); }, true);
    }

    // Drawing on the background, often where an item of the frame lies.
    void BackOp() {
        int x = in_.Range(-20, 330), y = in_.Range(-20, 210);
        if (!items_.empty() && in_.Below(2)) {
            const Item& item = items_[size_t(in_.Below(int(items_.size())))];
            x = item.x + in_.Range(-12, 12), y = item.y + in_.Range(-12, 12);
        }
        switch (in_.Below(5)) {
            case 0:
            case 1: {
                const int sprite = Sprite();
                const uint8_t colour = in_.Byte();
                return Step(
                    "a sprite on the background",
                    [=](Game& g) { kdv::DrawSprite(g, x, y, sprite, g.BackScreen, colour); }, true);
            }
            case 2: {
                const int w = in_.Range(0, 40), h = in_.Range(0, 20);
                const uint8_t colour = in_.Byte();
                return Step(
                    "a rectangle on the background",
                    [=](Game& g) { kdv::FillBackRect(g.BackScreen, x, y, x + w, y + h, colour); },
                    true);
            }
            case 3:
                return Step(
                    "the title picture on the background",
                    [=](Game& g) {
                        kdv::BlitPicture(g.BackScreen, x, y, g.TitlePicture, kdv::kTitleMaxPixels);
                    },
                    true);
            default: {
                const uint8_t colour = in_.Byte();
                return Step(
                    "a pixel on the background",
                    [=](Game& g) { kdv::PutBackPixel(g.BackScreen, x, y, colour); }, true);
            }
        }
    }

    // Anything else a tick does between its items: reads where an item lies, writes, drawing
    // on the background, now and then another copy.
    void Between() {
        int x = in_.Range(-20, 330), y = in_.Range(-20, 210);
        if (!items_.empty() && in_.Below(4) != 0) {
            const Item& item = items_[size_t(in_.Below(int(items_.size())))];
            x = item.x + in_.Range(-4, 18), y = item.y + in_.Range(-4, 18);
        }
        switch (in_.Below(12)) {
            case 0:
            case 1:
            case 2:
                return Read(x, y);
            case 3: {
                const uint8_t colour = in_.Byte();
                return Step("a pixel", [=](Game& g) { g.FrameScreen.Set(x, y, colour); });
            }
            case 4: {
                const int count = in_.Range(1, 40);
                const uint8_t colour = in_.Byte();
                return Step("a run of pixels",
                            [=](Game& g) { g.FrameScreen.SetRun(x, y, count, colour); });
            }
            case 5:
            case 6: {
                const int sprite = Sprite();
                const uint8_t colour = in_.Byte();
                return Step("another sprite", [=](Game& g) {
                    kdv::DrawSprite(g, x, y, sprite, g.FrameScreen, colour);
                });
            }
            case 7: {
                const uint8_t colour = in_.Byte();
                return Step("bricks erased", [=](Game& g) {
                    kdv::EraseBrickAndSteel(g.FrameScreen, x, y, x + 7, y + 7, colour);
                });
            }
            case 8:
                return BackOp();
            case 9:
                if (in_.Below(4) == 0) return StartFrame();
                return Read(x, y);
            default:
                return DrawItem(NewItem());
        }
    }

    void DrawItem(const Item& item) {
        switch (item.kind) {
            case Item::kSprite:
                return Step(
                    "a sprite " + std::to_string(item.x) + "," + std::to_string(item.y) + " s" +
                        std::to_string(item.sprite) + " c" + std::to_string(item.colour),
                    [=](Game& g) {
                        kdv::DrawSprite(g, item.x, item.y, item.sprite, g.FrameScreen, item.colour);
                    });
            case Item::kText:
                // Where the game draws text: a line running past x = 65535 throws.
                return Step(
                    "a line of text " + std::to_string(item.x) + "," + std::to_string(item.y) +
                        " c" + std::to_string(item.colour) + " '" + item.text + "'",
                    [=](Game& g) {
                        kdv::DrawText(g, g.GameFont, uint16_t(std::clamp(item.x, 0, 330)),
                                      uint16_t(std::clamp(item.y, 0, 205)), item.colour, item.text);
                    });
            case Item::kWideGlyph:
                return Step("a wide glyph " + std::to_string(item.x) + "," + std::to_string(item.y),
                            [=](Game& g) {
                                const kdv::GraphicsEntry& font = g.GraphicsTable[g.GameFont];
                                kdv::DrawGlyph(g, item.x, item.y, item.colour, font.data, font.size,
                                               uint8_t(item.sprite), 16, 16);
                            });
        }
    }

    // The scene between ticks: mostly as it was.
    void Change() {
        const int r = in_.Below(20);
        if (items_.empty()) return items_.push_back(NewItem());
        Item& item = items_[size_t(in_.Below(int(items_.size())))];
        switch (r) {
            case 0:
            case 1:
                item.colour = in_.Byte();
                break;
            case 2:
                item.x += in_.Range(-3, 3), item.y += in_.Range(-3, 3);
                break;
            case 10:
            case 11:
                // Onto the overlay, where it may be held.
                if (!pieces_.empty()) {
                    const Piece& p = pieces_[size_t(in_.Below(int(pieces_.size())))];
                    item.x = p.x + in_.Range(-12, 12), item.y = p.y + in_.Range(-12, 12);
                }
                break;
            case 3:
                item.sprite = Sprite();
                if (item.kind == Item::kText) item.text = Text();
                break;
            case 4:
                if (items_.size() < 16) items_.push_back(NewItem());
                break;
            case 5:
                items_.erase(items_.begin() + in_.Below(int(items_.size())));
                break;
            case 6:
                std::swap(item, items_[size_t(in_.Below(int(items_.size())))]);
                break;
            case 7:
            case 8:
                if (!pieces_.empty()) {
                    Piece& p = pieces_[size_t(in_.Below(int(pieces_.size())))];
                    if (in_.Below(2))
                        p.colour = in_.Byte();
                    else
                        p.sprite = Sprite();
                }
                break;
            case 9:
                if (in_.Below(2) && !pieces_.empty())
                    pieces_.pop_back();
                else if (pieces_.size() < ScreenTwins::kMaxPieces)
                    pieces_.push_back(NewPiece());
                break;
            default:
                break;
        }
    }

    Item NewItem() {
        Item item;
        const int kind = in_.Below(8);
        item.kind = kind < 5 ? Item::kSprite : kind < 7 ? Item::kText : Item::kWideGlyph;
        // Mostly on the screen, now and then over an edge.
        const bool edge = in_.Below(6) == 0;
        item.x = edge ? in_.Range(-16, 330) : in_.Range(0, 304);
        item.y = edge ? in_.Range(-16, 205) : in_.Range(0, 184);
        if (item.kind != Item::kSprite) item.x = std::max(item.x, 0), item.y = std::max(item.y, 0);
        item.sprite = item.kind == Item::kWideGlyph ? in_.Byte() : Sprite();
        item.colour = in_.Below(3) == 0 ? 0 : in_.Byte();
        if (item.kind == Item::kText) item.text = Text();
        return item;
    }

    Piece NewPiece() {
        Piece p;
        p.x = in_.Range(0, 304);
        p.y = in_.Range(0, 184);
        if (!items_.empty() && in_.Below(2)) {  // over an item, or under it
            const Item& item = items_[size_t(in_.Below(int(items_.size())))];
            p.x = std::clamp(item.x + in_.Range(-12, 12), 0, 304);
            p.y = std::clamp(item.y + in_.Range(-12, 12), 0, 184);
        }
        p.sprite = Sprite();
        p.colour = in_.Byte();
        p.text = in_.Below(3) == 0;
        return p;
    }

    int Sprite() {
        const int sprite = in_.Below(kdv::kSpriteCount);
        counts_.sprites[size_t(sprite)] = true;
        return sprite;
    }

    std::string Text() {
        static constexpr char kChars[] = " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-";
        std::string text;
        for (int n = 1 + in_.Below(6); n > 0; --n) text += kChars[in_.Below(sizeof kChars - 1)];
        return text;
    }

    Reader in_;
    ScreenTwins twins_;
    ScreenProgramCounts& counts_;
    uint8_t backColour_ = 0;
    std::vector<Item> items_;
    std::vector<Piece> pieces_;
};

std::string Place(int x, int y) {
    return std::to_string(x) + ", " + std::to_string(y);
}

}  // namespace

ScreenTwins::ScreenTwins(Game& cached, Game& plain, ScreenProgramCounts& counts)
    : cached_(cached),
      plain_(plain),
      counts_(counts),
      readA_(kdv::kScreenBytes),
      readB_(kdv::kScreenBytes) {
    for (Game* g : {&cached_, &plain_}) {
        g->FrameScreen.DropCaches();
        g->BackScreen.DropCaches();
        g->presentCache.valid = false;
    }
}

void ScreenTwins::Step(const std::string& what, const std::function<void(Game&)>& op, bool back) {
    if (!failure_.empty()) return;
    ++counts_.steps;
    ++step_;
    const ScreenBuffer::Counts frame = cached_.FrameScreen.Counted(),
                               background = cached_.BackScreen.Counted();
    op(cached_);
    op(plain_);
    counts_.keptSprites += cached_.FrameScreen.Counted().keptSprites - frame.keptSprites;
    counts_.partFills += cached_.BackScreen.Counted().partFills - background.partFills;
    counts_.heldSkips += cached_.FrameScreen.Counted().heldSkips - frame.heldSkips;
    plain_.FrameScreen.DropCaches();
    plain_.BackScreen.DropCaches();
    plain_.presentCache.valid = false;
    if (std::string d = Compare(false); !d.empty()) return Fail(what, "the frame " + d);
    if (back)
        if (std::string d = Compare(true); !d.empty()) return Fail(what, "the background " + d);
}

void ScreenTwins::Read(int x, int y) {
    if (!failure_.empty()) return;
    ++counts_.steps;
    ++step_;
    const ScreenBuffer &a = cached_.FrameScreen, &b = plain_.FrameScreen;
    const std::string what = "a read from (" + Place(x, y) + ")";
    if (a.At(x, y) != b.At(x, y)) return Fail(what, "the pixel");
    std::array<uint8_t, 16> ra, rb;
    a.Read(x, y, ra);
    b.Read(x, y, rb);
    if (ra != rb) return Fail(what, "16 bytes");
    std::array<uint8_t, 200> la, lb;
    a.Read(x, y, std::span(la));
    b.Read(x, y, std::span(lb));
    if (la != lb) {
        const auto d = std::mismatch(la.begin(), la.end(), lb.begin());
        return Fail(what, "byte " + std::to_string(d.first - la.begin()) + " reads " +
                              std::to_string(*d.first) + ", where plain drawing gives " +
                              std::to_string(*d.second));
    }
    if (kdv::ColumnIsClear(cached_, x, y) != kdv::ColumnIsClear(plain_, x, y) ||
        kdv::RowIsClear(cached_, x, y) != kdv::RowIsClear(plain_, x, y))
        return Fail(what, "the look ahead");
}

void ScreenTwins::Overlay(const std::vector<Piece>& pieces) {
    struct Shows {
        std::array<int32_t, 4 * kMaxPieces> pieces;
    } shows{};
    const int count = int(std::min(pieces.size(), size_t(kMaxPieces)));
    for (int i = 0; i < count; ++i) {
        const Piece& p = pieces[size_t(i)];
        shows.pieces[size_t(4 * i)] = p.x;
        shows.pieces[size_t(4 * i + 1)] = p.y;
        shows.pieces[size_t(4 * i + 2)] = p.sprite | p.text << 8;
        shows.pieces[size_t(4 * i + 3)] = p.colour;
    }
    Step("the overlay", [&](Game& g) {
        auto where = [&](int i) -> kdv::HeldPiece {
            const Piece& p = pieces[size_t(i)];
            return {p.x, p.y, p.text ? kdv::kScreenWidth - 1 : p.x + 15, p.y + 15};
        };
        g.FrameScreen.DrawHeld(shows, count, where, [&](int i) {
            const Piece& p = pieces[size_t(i)];
            if (p.text)
                kdv::DrawText(g, g.GameFont, uint16_t(p.x + 20), uint16_t(p.y + 4), p.colour,
                              " X " + std::to_string(p.sprite));
            kdv::DrawSprite(g, p.x, p.y, p.sprite, g.FrameScreen, p.colour);
        });
    });
}

void ScreenTwins::Present() {
    Step("the present", [](Game& g) {
        kdv::PresentFrame(g);
        g.FrameScreen.EndTick();
    });
    if (!failure_.empty()) return;
    if (cached_.FrameScreen.Bytes() != plain_.FrameScreen.Bytes())
        return Fail("the present", "the frame's bytes differ");
    if (cached_.WorkBitmap.pixels != plain_.WorkBitmap.pixels)
        return Fail("the present", "the bitmap differs");
    ++tick_;
}

// Where the two screens read differently, or empty.
std::string ScreenTwins::Compare(bool back) {
    const ScreenBuffer& a = back ? cached_.BackScreen : cached_.FrameScreen;
    const ScreenBuffer& b = back ? plain_.BackScreen : plain_.FrameScreen;
    a.Read(0, 0, readA_);
    b.Read(0, 0, readB_);
    if (readA_ == readB_) return {};
    const auto d = std::mismatch(readA_.begin(), readA_.end(), readB_.begin());
    const int at = int(d.first - readA_.begin());
    return "reads " + std::to_string(*d.first) + " at (" +
           Place(at % kdv::kScreenWidth, at / kdv::kScreenWidth) + "), where plain drawing gives " +
           std::to_string(*d.second);
}

void ScreenTwins::Fail(const std::string& what, const std::string& how) {
    failure_ = "step " + std::to_string(step_) + " (tick " + std::to_string(tick_) + ", " + what +
               "): " + how;
}

std::string RunScreenProgram(std::span<const uint8_t> program, kdv::Game& cached, kdv::Game& plain,
                             ScreenProgramCounts* counts) {
    ScreenProgramCounts ignored;
    return Program(program, cached, plain, counts ? *counts : ignored).Run();
}

}  // namespace testkit
