// Runner scripts: parsed by the runner's own parser, then played for a few ticks, with every
// dump taken (in memory) where the script asks for it.
#include <sstream>

#include "adapters/virtual_devices.h"
#include "app/runner/script.h"
#include "app/runner/state_json.h"
#include "core/flow/main_form.h"
#include "core/game.h"
#include "fuzz/session.h"
#include "recording/recorded_game.h"

namespace {

constexpr long kMaxTicks = 40;  // enough for the title, a menu command and a stage's start

class Sink : public runner::InputSink {
  public:
    explicit Sink(adapters::VirtualInput& input) : input_(input) {}
    void SetKey(int code, bool down) override { input_.SetKey(code, down); }
    void SetJoyState(int state, bool on) override { input_.SetJoyState(state, on); }
    bool KeyHeld(int code) const override { return input_.LiveKey(code); }

  private:
    adapters::VirtualInput& input_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    runner::Script script;
    try {
        script = runner::ParseScript(in);
    } catch (const runner::ScriptError&) {
        return 0;
    }
    adapters::MemoryFiles& files = fuzz::FreshFiles();
    auto [platform, g] = fuzz::FreshGame(files);
    kdv::Game* game = &g;
    Sink sink(platform.input);
    kdv::FormCreate(*game);
    if (kdv::FormActivate(*game)) {
        runner::ScriptPlayer player(script);
        recording::RecordedGame played(*game);
        const long ticks = std::min(player.LastTick(), kMaxTicks);
        for (long tick = 1; tick <= ticks && !platform.window.closeRequested; ++tick) {
            try {
                player.ApplyInputs(tick, played, sink);
            } catch (const runner::ScriptError&) {
                break;  // a command the game refuses ends the run with a message, as in the runner
            }
            if (platform.window.closeRequested) break;
            played.Tick();
            platform.clock.now += kdv::kTimerInterval;
            for (const runner::Command& c : script.commands)
                if (c.tick == tick && c.verb == runner::Command::Dump)
                    (void)runner::StateJson(*game, tick);
        }
    }
    kdv::FormClose(*game);
    return 0;
}
