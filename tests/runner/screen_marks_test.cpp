// The copy into the frame, the side panel and the presenter touch only the blocks written
// since they last looked, and sprites drawn again where they were are kept. Long games on the
// shipped data run twice in step: once as the game runs, once with every note of what was
// written thrown away before each tick, which copies, draws and converts everything as a game
// without the notes would. Frames, backgrounds and state must agree at every tick, and at every
// presented frame the bitmap must equal a full conversion of the frame.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "adapters/disk_files.h"
#include "adapters/virtual_devices.h"
#include "app/runner/state_json.h"
#include "core/field/explosion.h"
#include "core/flow/game_state.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/screen/font.h"

namespace fs = std::filesystem;
using namespace kdv;

namespace {

struct Player {
    adapters::DiskFiles files;
    adapters::VirtualPlatform platform;
    std::unique_ptr<Game> game;

    explicit Player(const fs::path& root) : files(root) {
        game = MakeGame(platform.ServicesWith(files));
        FormCreate(*game);
        started = FormActivate(*game);
    }
    bool started = false;
};

// What a game without the notes does: copy, fill, draw and convert everything.
void ForgetWhatWasWritten(Game& g) {
    g.FrameScreen.DropCaches();
    g.BackScreen.DropCaches();
    g.presentCache.valid = false;
}

// The bitmap as a full conversion of the frame gives it.
std::string CompareWithFullConversion(const Game& g) {
    const WorkBitmap& b = g.WorkBitmap;
    const int scale = b.width / kScreenWidth;
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width; ++x) {
            const uint8_t index =
                g.FrameScreen
                    .Bytes()[size_t(kPresentOffset + (y / scale) * kScreenWidth + x / scale)];
            if (b.pixels[size_t(y * b.width + x)] != g.PixelTable[index])
                return "bitmap pixel (" + std::to_string(x) + ", " + std::to_string(y) + ")";
        }
    return {};
}

struct Twins {
    Player quick, full;
    long tick = 0;

    explicit Twins(const fs::path& root) : quick(root), full(root) {}

    template <typename F>
    void Both(F f) {
        f(*quick.game, quick.platform);
        f(*full.game, full.platform);
    }
    // Runs n ticks; the first difference found, or empty.
    std::string Run(long n) {
        for (long i = 0; i < n; ++i) {
            ++tick;
            ForgetWhatWasWritten(*full.game);
            const long shown = quick.platform.display.presented;
            Both([](Game& g, adapters::VirtualPlatform& p) {
                DXTimerTimer(g);
                p.clock.now += kTimerInterval;
            });
            const Game &a = *quick.game, &b = *full.game;
            const std::string at = " at tick " + std::to_string(tick);
            if (a.FrameScreen.Bytes() != b.FrameScreen.Bytes()) return "frame" + at;
            if (a.BackScreen.Bytes() != b.BackScreen.Bytes()) return "background" + at;
            if (a.RandSeed != b.RandSeed) return "random seed" + at;
            if (quick.platform.display.presented != shown) {
                if (std::string d = CompareWithFullConversion(a); !d.empty()) return d + at;
                if (a.WorkBitmap.pixels != b.WorkBitmap.pixels) return "full bitmap" + at;
            }
        }
        if (runner::StateHash(*quick.game, tick) != runner::StateHash(*full.game, tick))
            return "state hash at tick " + std::to_string(tick);
        return {};
    }
    void Key(int code, bool down) {
        Both([&](Game& g, adapters::VirtualPlatform& p) {
            p.input.SetKey(code, down);
            if (down) FormKeyDown(g, code, false);
        });
    }
    void Menu(const char* item) {
        Both([&](Game& g, adapters::VirtualPlatform&) { ClickMenu(g, item); });
    }
};

struct ShippedCopy {
    ShippedCopy() {
        path = fs::temp_directory_path() / ("kordavel-marks-" + std::to_string(::getpid()));
        fs::remove_all(path);
        fs::create_directories(path);
        fs::copy(fs::path(KORDAVEL_ROOT) / "data", path / "data", fs::copy_options::recursive);
    }
    ~ShippedCopy() { fs::remove_all(path); }
    fs::path path;
};

TEST(ScreenMarks, TitleDemoAndGamesDrawPresentAndHashAsFullFramesDo) {
    ShippedCopy root;
    Twins t(root.path);
    ASSERT_TRUE(t.quick.started && t.full.started);
    // The title, then the demonstration it starts by itself and the title again after it.
    ASSERT_EQ(t.Run(12000), "");
    EXPECT_EQ(t.quick.game->GameState, gsDemo);
    EXPECT_GT(t.quick.game->FrameScreen.Counted().keptSprites, 0)
        << "no sprite was kept: the frames compared only copies";
    EXPECT_GT(t.quick.game->BackScreen.Counted().partFills, 0)
        << "the title's background was filled whole every tick";

    // One player driven by the autopilot, paused for a while, and an explosion drawn over the
    // side panel (which must stay on top of it).
    t.Menu("MStart1Player");
    ASSERT_EQ(t.Run(3), "");
    t.Key(32, true);
    ASSERT_EQ(t.Run(2), "");
    t.Key(32, false);
    t.Both([](Game& g, adapters::VirtualPlatform&) { g.autopilotDrivesPlayer1 = true; });
    ASSERT_EQ(t.Run(3000), "");
    ASSERT_EQ(t.quick.game->GameState, gsPlay);
    t.Both([](Game& g, adapters::VirtualPlatform&) {
        StartExplosion(g, g.Enemy(kEnemySlots).explosion, 236, 20);
    });
    ASSERT_EQ(t.Run(60), "");
    t.Key(80, true);  // P
    ASSERT_EQ(t.Run(100), "");
    t.Key(80, false);
    ASSERT_EQ(t.Run(100), "");
    t.Key(80, true);
    ASSERT_EQ(t.Run(2), "");
    t.Key(80, false);
    ASSERT_EQ(t.Run(5000), "");

    // Two players, the second one firing and turning, at 320 x 200 for a while.
    t.Menu("MStart2Player");
    ASSERT_EQ(t.Run(3), "");
    t.Key(32, true);
    ASSERT_EQ(t.Run(2), "");
    t.Key(32, false);
    t.Key(16, true);  // player 2 fires
    for (int turn = 0; turn < 40; ++turn) {
        const int keys[4] = {87, 90, 65, 83};
        t.Key(keys[turn % 4], true);
        ASSERT_EQ(t.Run(70), "");
        t.Key(keys[turn % 4], false);
        if (turn == 10) t.Menu("N320x200Alt11");
        if (turn == 20) t.Menu("N640x400Alt21");
    }

    // A duel, then the level editor: its help text stands still, its cursor blinks.
    t.Menu("MStartDuel");
    ASSERT_EQ(t.Run(3), "");
    t.Key(32, true);
    ASSERT_EQ(t.Run(2), "");
    t.Key(32, false);
    ASSERT_EQ(t.Run(2000), "");
    EXPECT_EQ(t.quick.game->GameMode, gmDuel);
    t.Menu("MLevelEditor");
    for (int code : {39, 39, 40, 32, 32, 13, 37, 38}) {
        t.Key(code, true);
        ASSERT_EQ(t.Run(40), "");
        t.Key(code, false);
    }
    EXPECT_EQ(t.quick.game->GameState, gsLevelEditor);
    EXPECT_GT(t.quick.game->FrameScreen.Counted().heldSkips, 0) << "the side panel was never held";
}

// Text takes a glyph's eight rows at once; DrawGlyph, row by row, is the measure. Every
// character of the shipped font at every place in a block and over the screen's edges, and a
// line of text with its spacing, must write the same pixels and the same notes, and again over
// a copied frame, where glyphs drawn again are kept.
TEST(ScreenMarks, TextWritesWhatGlyphByGlyphWrites) {
    ShippedCopy root;
    Player text(root.path), glyphs(root.path);
    ASSERT_TRUE(text.started && glyphs.started);
    const GraphicsEntry& font = text.game->GraphicsTable[text.game->GameFont];
    ASSERT_TRUE(font.width <= 8 && font.height <= 8);
    std::vector<std::pair<int, int>> places;
    // Each alone in its blocks, so that a block left out of the notes is not noted by another.
    for (int k = 0; k < 32; ++k) places.push_back({64 * (k % 4) + k, 10 * (k / 4)});
    for (int x = 309; x <= 319; ++x) places.push_back({x, 90 + 9 * (x - 309)});
    for (int y = 189; y <= 199; ++y) places.push_back({16 * (y - 189), y});
    // The notes too, unless a line was kept whole where some of its glyphs, sharing blocks,
    // could not be.
    auto same = [&](const std::string& what, bool notes = true) {
        ScreenBuffer &a = text.game->FrameScreen, &b = glyphs.game->FrameScreen;
        EXPECT_TRUE(a.Bytes() == b.Bytes()) << what;
        const BlockSet shownA = a.TakeShown(), shownB = b.TakeShown();
        EXPECT_TRUE(!notes || shownA == shownB) << what;
    };
    // Sprites the text frame kept since last asked.
    long keptBefore = 0;
    auto kept = [&] {
        const long now = text.game->FrameScreen.Counted().keptSprites, n = now - keptBefore;
        keptBefore = now;
        return n;
    };
    auto copy = [&] {
        for (Player* p : {&text, &glyphs}) {
            p->game->FrameScreen.EndTick();
            CopyToFrame(p->game->FrameScreen, p->game->BackScreen);
        }
    };
    for (const char* over : {"a frame", "a copied frame"}) {
        for (int c = 0; c < 256; ++c) {
            for (auto [x, y] : places) {
                DrawText(*text.game, text.game->GameFont, uint16_t(x), uint16_t(y), uint8_t(c),
                         std::string(1, char(c)));
                DrawGlyph(*glyphs.game, x, y, uint8_t(c), font.data, font.size, uint8_t(c),
                          font.height, font.width);
            }
            same("character " + std::to_string(c) + " over " + over);
        }
        copy();
    }
    // A line both ways: DrawText, and its glyphs one by one with its spacing.
    auto line = [&](int x, int y, uint8_t colour, const std::string& chars) {
        DrawText(*text.game, text.game->GameFont, uint16_t(x), uint16_t(y), colour, chars);
        for (char ch : chars) {
            DrawGlyph(*glyphs.game, x, y, colour, font.data, font.size, uint8_t(ch), font.height,
                      font.width);
            const int ink = GlyphInkWidth(uint8_t(ch), font.data, font.size);
            x += ink ? ink + 2 : std::max(0, font.width - 2);
        }
    };
    line(100, 150, 12, "STAGE 12 - 0123456789 PTS");
    same("a long line");
    kept();
    // Lines alone in their blocks, drawn again where they were after the copy, are kept; others
    // drawn there are not.
    for (int again = 0; again < 3; ++again) {
        copy();
        for (int k = 0; k < 8; ++k)
            line(32 * k + 8, 170, 14, std::string(1, char('A' + k + again / 2)));
        line(86, 182, 12, again < 2 ? "GAME OVER" : "GAME 0VER");
        same("lines drawn " + std::to_string(again + 1) + " times", false);
        EXPECT_EQ(kept(), again == 1 ? 9 : 0) << again;
    }
    // What neither drew again is put back at the tick's end.
    copy();
    for (Player* p : {&text, &glyphs}) p->game->FrameScreen.EndTick();
    EXPECT_TRUE(text.game->FrameScreen.Bytes() == glyphs.game->FrameScreen.Bytes());
    EXPECT_TRUE(text.game->FrameScreen.Bytes() == text.game->BackScreen.Bytes());
    // Over a cleared frame, a line drawn again is kept unless something else wrote on it since;
    // the other frame forgets what it knows and clears everything.
    for (int again = 0; again < 4; ++again) {
        glyphs.game->FrameScreen.DropCaches();
        for (Player* p : {&text, &glyphs}) ClearFrame(p->game->FrameScreen);
        line(128, 100, 15, "STAGE 7");
        if (again == 1)
            for (Player* p : {&text, &glyphs})
                DrawBackHLine(p->game->FrameScreen, 120, 140, 102, 9);
        EXPECT_TRUE(text.game->FrameScreen.Bytes() == glyphs.game->FrameScreen.Bytes()) << again;
        EXPECT_EQ(kept(), again == 0 || again == 2 ? 0 : 1) << again;
    }
}

}  // namespace

// A sprite notes, at once, exactly the blocks that its ink takes: every sprite of the shipped
// sheet at every place in a block, the notes worked out from its pixels.
TEST(ScreenMarks, EverySpriteNotesTheBlocksItsInkTakesAtEveryPlace) {
    ShippedCopy root;
    Player p(root.path);
    ASSERT_TRUE(p.started);
    Game& g = *p.game;
    auto screen = std::make_unique<ScreenBuffer>();
    constexpr int y = 40;
    int differing = 0;
    for (int sprite = 0; sprite < kSpriteCount; ++sprite)
        for (int x = 0; x < 2 * kBlockBytes; ++x) {
            BlockSet ink;
            for (int r = 0; r < 16; ++r)
                for (int c = 0; c < 16; ++c)
                    if (g.SpriteSheet[size_t(sprite * kSpriteBytes + r * 16 + c)] != kTransparent)
                        ink.Add(((y + r) * kScreenWidth + x + c) / kBlockBytes);
            screen->TakeShown();
            DrawSprite(g, x, y, sprite, *screen, 0);
            if (screen->TakeShown() != ink) {
                ADD_FAILURE() << "sprite " << sprite << " at x " << x;
                if (++differing == 5) return;
            }
        }
}
