// Network packets as a joiner receives them. The input is a stream of packets, each after its
// length in two little-endian bytes. Each is decoded, and what is accepted must encode to
// bytes that decode and encode the same. The first Welcome starts the game it describes on the
// settings file it carries, as a joining game does; the masks of the Inputs that follow then
// drive the host's player for a tick each, up to 20.
#include <algorithm>
#include <cstdlib>
#include <variant>

#include "core/dialogs/dialogs.h"
#include "core/flow/game_state.h"
#include "core/flow/main_form.h"
#include "fuzz/session.h"
#include "net/protocol.h"
#include "replay/mask_input.h"

namespace {

constexpr long kMaxTicks = 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<net::Message> accepted;
    for (size_t pos = 0; size - pos >= 2;) {
        const size_t length = std::min<size_t>(data[pos] | data[pos + 1] << 8, size - pos - 2);
        const std::span<const uint8_t> packet(data + pos + 2, length);
        pos += 2 + length;
        std::optional<net::Message> message = net::Decode(packet);
        if (!message) continue;
        const std::vector<uint8_t> again = net::Encode(*message);
        const std::optional<net::Message> second = net::Decode(again);
        if (!second || net::Encode(*second) != again) std::abort();
        accepted.push_back(std::move(*message));
    }

    const net::Welcome* welcome = nullptr;
    for (const net::Message& m : accepted)
        if ((welcome = std::get_if<net::Welcome>(&m))) break;
    if (!welcome) return 0;
    adapters::MemoryFiles& files = fuzz::FreshFiles();
    files.files[kdv::kSettingsFile].assign(welcome->settings.begin(), welcome->settings.end());
    auto [platform, game] = fuzz::FreshGame(files);
    replay::MaskInput input;
    input.settings = &game.Settings;
    game.io.input = &input;
    game.Settings.smallScreen = true;
    kdv::FormCreate(game);
    if (!kdv::FormActivate(game)) return 0;
    if (welcome->stage < 1 || welcome->stage > game.LevelCount) return 0;
    if (kdv::SelectOkClick(game, welcome->stage, welcome->mode == kdv::gmDuel ? 2 : 1)) return 0;
    long tick = 0;
    for (const net::Message& m : accepted) {
        const auto* inputs = std::get_if<net::Inputs>(&m);
        if (!inputs) continue;
        for (const uint16_t mask : inputs->masks) {
            if (++tick > kMaxTicks || platform.window.closeRequested) return 0;
            input.mask = mask;  // the host's player; this joiner stands still
            platform.clock.now = uint32_t(tick * kdv::kTimerInterval);
            kdv::DXTimerTimer(game);
        }
    }
    return 0;
}
