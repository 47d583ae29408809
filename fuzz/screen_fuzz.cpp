// The screens' notes, kept sprites and held overlay: any bytes read as frames of drawing on the
// shipped sprites, font and title picture, on a screen that keeps what it may and on one that
// keeps nothing. Both must read and present the same at every step; a difference aborts.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "adapters/virtual_devices.h"
#include "core/flow/main_form.h"
#include "fuzz/session.h"
#include "testkit/screen_program.h"

namespace {

// A game started on the shipped data, wired to its own devices.
struct Started {
    adapters::VirtualPlatform platform;
    std::unique_ptr<kdv::Game> game;

    explicit Started(adapters::MemoryFiles& files)
        : game(kdv::MakeGame(platform.ServicesWith(files))) {
        kdv::FormCreate(*game);
        if (!kdv::FormActivate(*game)) {
            std::fprintf(stderr, "fuzz_screen: the game does not start on the shipped data\n");
            std::exit(1);
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Made once: starting a game reads and decodes every data file.
    static Started shipped(fuzz::FreshFiles()), cached(fuzz::FreshFiles()),
        plain(fuzz::FreshFiles());
    cached.game->CopyStateFrom(*shipped.game);
    plain.game->CopyStateFrom(*shipped.game);
    const std::string difference =
        testkit::RunScreenProgram({data, size}, *cached.game, *plain.game);
    if (!difference.empty()) {
        std::fprintf(stderr, "fuzz_screen: %s\n", difference.c_str());
        std::abort();
    }
    return 0;
}
