#include "fuzz/session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "adapters/virtual_devices.h"
#include "core/controls/settings.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "core/sound/sound.h"
#include "fuzz/short_bank.h"

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
        f.files[kdv::kSoundBankFile] = ShortBank(f.files[kdv::kSoundBankFile]);
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

adapters::MemoryFiles& FreshFiles() {
    static adapters::MemoryFiles work = Shipped();
    const auto& shipped = Shipped().files;
    for (auto it = work.files.begin(); it != work.files.end();) {
        const auto from = shipped.find(it->first);
        if (from == shipped.end()) {
            it = work.files.erase(it);
            continue;
        }
        // The buffer is kept, so a restored file costs a copy and no allocation; memcpy, since
        // a range copy goes through AddressSanitizer's memmove a byte at a time.
        if (it->second != from->second) {
            it->second.resize(from->second.size());
            std::memcpy(it->second.data(), from->second.data(), from->second.size());
        }
        ++it;
    }
    for (const auto& [name, bytes] : shipped)
        if (!work.files.count(name)) work.files[name] = bytes;
    work.readOnly.clear();
    work.failingReads.clear();
    return work;
}

Rig FreshGame(adapters::MemoryFiles& files) {
    static adapters::VirtualPlatform platform;
    static const std::unique_ptr<kdv::Game> blank = kdv::MakeGame({});
    static const std::unique_ptr<kdv::Game> game = kdv::MakeGame({});
    platform = adapters::VirtualPlatform{};
    // Turning frames into 16-bit pixels does the same work for every input and reads nothing
    // the input decides beyond a 256-entry table; it took a quarter of each run.
    platform.display.wantsPixels = false;
    // The work bitmap keeps its buffer, so that sizing it is a clear and not an allocation.
    std::vector<uint16_t> pixels;
    pixels.swap(game->WorkBitmap.pixels);
    game->CopyStateFrom(*blank);
    pixels.swap(game->WorkBitmap.pixels);
    game->io = platform.ServicesWith(files);
    return {platform, *game};
}

RunInput SplitInput(const uint8_t* data, size_t size) {
    if (size == 0) return {{}, Scene::Title, 0};
    const uint8_t last = data[size - 1];
    std::vector<uint8_t> file(size - 1);
    if (size > 1) std::memcpy(file.data(), data, size - 1);  // not memmove: see FreshFiles
    return {std::move(file), Scene(last & 3), uint8_t(last >> 2)};
}

kdv::Game& PlaySession(adapters::MemoryFiles& files, Scene scene, const SessionOptions& options) {
    auto [platform, g] = FreshGame(files);
    // The small window, whose work bitmap is the size the one before it left.
    g.Settings.smallScreen = true;
    kdv::FormCreate(g);
    if (kdv::FormActivate(g)) {
        switch (scene) {
            case Scene::Title:
                Tick(g, platform, 2);
                break;
            case Scene::Demo:
                kdv::ClickMenu(g, "MDemo");
                Tick(g, platform, 2);
                break;
            case Scene::Stage: {
                kdv::ClickMenu(g, "MStart2Player");
                g.StageNumber = options.stage;
                const kdv::Settings& s = g.Settings;
                Key(g, platform, s.keys1[kdv::Start], true);
                Key(g, platform, s.keys1[kdv::Fire], true);
                Key(g, platform, s.keys2[kdv::Fire], true);
                Key(g, platform, s.keys1[kdv::MoveUp], true);
                Tick(g, platform, 3);  // the stage starts, then both fire and the shots fly
                break;
            }
            case Scene::Editor:
                kdv::ClickMenu(g, "MLevelEditor");
                Key(g, platform, 13, true);
                Tick(g, platform, 1);
                Key(g, platform, 27, true);
                Tick(g, platform, 1);
                break;
        }
    }
    if (options.close) kdv::FormClose(g);
    return g;
}

}  // namespace fuzz
