#pragma once
#include <filesystem>
// A game on in-memory devices with small data files the tests make themselves.
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "adapters/memory_files.h"
#include "adapters/virtual_devices.h"
#include "core/flow/game_state.h"
#include "core/game.h"

namespace testkit {

using Bytes = std::vector<uint8_t>;
using Sprite = std::array<uint8_t, 256>;

Sprite SolidSprite(uint8_t colour);
// A sprite with a one-pixel outline of one colour around an inside of another.
Sprite FramedSprite(uint8_t outline, uint8_t inside);

struct GraphicsPack {
    uint16_t titleWidth = 8;
    uint16_t titleHeight = 4;
    uint8_t titleColour = 4;
    std::array<uint8_t, 768> palette{};
    std::array<Sprite, 94> sprites{};
};

// Sprites in the colour classes the field depends on: tanks are solid squares in their
// class, tiles are solid brick, steel, water and so on.
GraphicsPack StandardGraphics();
Bytes EncodeGraphics(const GraphicsPack& pack);

// An 8 x 8 font: glyph c has ink in columns 0..inkWidth(c) on every row (none when negative).
Bytes MakeFont(uint8_t width, uint8_t height, const std::function<int(int)>& inkWidth);
Bytes StandardFont();  // letters 5 columns wide, space empty

struct LevelRecord {
    kdv::MapGrid map{};
    std::array<uint8_t, 20> lineup{};  // entries 1..20
};
LevelRecord DefaultLevel();  // the base with its wall, nothing else, twenty kind-0 tanks
Bytes EncodeLevels(const std::vector<LevelRecord>& records);

// A RIFF WAVE file of n silent 16-bit mono samples.
Bytes MakeWave(int samples);
Bytes MakeSoundBank(int sounds);

// Writes the standard data set into a folder on disk: data/tank.grp, tank.fnt, tank.snd, lswap.dat.
void WriteStandardData(const std::string& root, int levelRecords = 3);

// The whole of a file on disk as bytes in a string; empty when it cannot be read.
std::string ReadAll(const std::filesystem::path& path);

struct Rig : adapters::VirtualPlatform {
    adapters::MemoryFiles files;
    std::unique_ptr<kdv::Game> game;

    Rig();
    kdv::Game& g() { return *game; }

    // The standard data files in memory.
    void InstallStandardData(int levelRecords = 3);
    // The four data files from a folder on disk (the build's own data), into memory.
    void InstallDataFrom(const std::string& dataFolder);
    // FormCreate and FormActivate; false when start-up failed.
    bool StartUp();
    // Runs n timer ticks, 13 ms apart.
    void Tick(int n = 1);
    void Press(int code) { input.SetKey(code, true); }
    void Release(int code) { input.SetKey(code, false); }
};

// A started game with an empty field (the default map) ready for play-field tests: cells can
// be set, the background rebuilt, and the clock set by hand.
struct FieldRig : Rig {
    // On the standard data, or on the data files of `dataFolder` when it is given.
    explicit FieldRig(uint8_t mode = kdv::gmOnePlayer, const std::string& dataFolder = {});
    void SetCell(int column, int row, uint8_t code) {
        g().MapGrid[size_t(column * 12 + row)] = code;
    }
    void ClearMap() { g().MapGrid.fill(0); }
    void Build();  // BuildBackground
    void Frame();  // FrameScreen := BackScreen, as at the start of a play frame
    void Now(int32_t tick) { g().GameClock = tick; }
    kdv::PlayerTank& P(int n) { return g().Player(n); }
};

}  // namespace testkit
