#include "fuzz/session.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "adapters/virtual_devices.h"
#include "core/controls/settings.h"
#include "core/flow/main_form.h"
#include "core/game.h"

namespace fuzz {
namespace {

constexpr const char* kDataFiles[] = {"tank.grp", "tank.fnt", "tank.snd", "lswap.dat"};

std::vector<uint8_t> ReadWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        // Without the shipped data every run would test only the start-up message.
        std::fprintf(stderr, "fuzz: cannot read %s (set KORDAVEL_DATA)\n", path.c_str());
        std::exit(1);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const adapters::MemoryFiles& Shipped() {
    static const adapters::MemoryFiles files = [] {
        adapters::MemoryFiles f;
        const char* env = std::getenv("KORDAVEL_DATA");
        const std::filesystem::path dir = env ? env : KORDAVEL_FUZZ_DATA;
        for (const char* name : kDataFiles)
            f.files[std::string("data/") + name] = ReadWhole(dir / name);
        const std::string ini = kdv::FormatSettings(kdv::Settings{});
        f.files[kdv::kSettingsFile] = std::vector<uint8_t>(ini.begin(), ini.end());
        return f;
    }();
    return files;
}

void Tick(kdv::Game& game, adapters::VirtualPlatform& platform, int n) {
    for (int i = 0; i < n && !platform.window.closeRequested; ++i) {
        kdv::DXTimerTimer(game);
        platform.clock.now += kdv::kTimerInterval;
    }
}

void Key(kdv::Game& game, adapters::VirtualPlatform& platform, int code, bool down) {
    if (code < 0 || code > 255) return;
    platform.input.SetKey(code, down);
    if (down) kdv::FormKeyDown(game, code, false);
}

}  // namespace

adapters::MemoryFiles ShippedFiles() {
    return Shipped();
}

std::vector<uint8_t> Bytes(const uint8_t* data, size_t size) {
    return size ? std::vector<uint8_t>(data, data + size) : std::vector<uint8_t>{};
}

void PlaySession(adapters::MemoryFiles& files, int stage) {
    adapters::VirtualPlatform platform;
    auto game = kdv::MakeGame(platform.ServicesWith(files));
    kdv::Game& g = *game;
    // The small window, and frames presented on the title only: converting frames is the
    // same work for every input and would take most of each run.
    g.Settings.smallScreen = true;
    kdv::FormCreate(g);
    if (kdv::FormActivate(g)) {
        Tick(g, platform, 2);
        platform.display.canDraw = false;
        kdv::ClickMenu(g, "MDemo");
        Tick(g, platform, 3);
        kdv::ClickMenu(g, "MStart2Player");
        g.StageNumber = stage;
        const kdv::Settings& s = g.Settings;
        Key(g, platform, s.keys1[kdv::Start], true);
        Key(g, platform, s.keys1[kdv::Fire], true);
        Key(g, platform, s.keys2[kdv::Fire], true);
        Key(g, platform, s.keys1[kdv::MoveUp], true);
        Tick(g, platform, 4);
        kdv::ClickMenu(g, "MLevelEditor");
        Key(g, platform, 13, true);
        Tick(g, platform, 1);
        Key(g, platform, 27, true);
        Tick(g, platform, 1);
    }
    kdv::FormClose(g);
}

}  // namespace fuzz
