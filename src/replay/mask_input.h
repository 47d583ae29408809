#pragma once
// The input the game reads, answered from the recorded states of the players' binding slots.
// The game's binding tests read the slots themselves, so a slot of player 2 never acts as
// player 1's binding of the same code; a key or joystick state asked by its code (a dump, the
// key-capture scan) is down when a slot bound to it is. Replays and network games both drive
// the game this way.
#include <cstdint>

#include "core/controls/settings.h"
#include "core/platform/services.h"

namespace replay {

class MaskInput : public kdv::InputDevice {
  public:
    void Update() override {}
    bool KeyDown(int code) const override { return Any(code, false); }
    bool JoyStateOn(int state) const override { return Any(state, true); }
    std::optional<bool> SlotDown(int slot) const override {
        return slot >= 0 && slot < 4 * kdv::kActions && (mask >> slot & 1);
    }
    void SetForceFeedback(bool) override {}
    void PlayJolt(const kdv::JoltEffect&) override {}

    const kdv::Settings* settings = nullptr;  // the bindings the slots stand for
    uint32_t mask = 0;                        // one bit a slot, as the replay format stores them

  private:
    bool Any(int code, bool joystick) const;
};

}  // namespace replay
