#include "app/qt/controls_list.h"

#include "app/qt/captions.h"
#include "core/controls/player_controls.h"

namespace app {

std::string ControlsText(const kdv::Settings& settings, int language) {
    static const char* const kActions[kdv::kActions] = {"Up",   "Down",  "Left", "Right",
                                                        "Fire", "Start", "Pause"};
    struct Player {
        const char* name;
        const kdv::BindingRow& keys;
        const kdv::BindingRow& joystick;
    };
    const Player players[] = {{"Player 1", settings.keys1, settings.joystick1},
                              {"Player 2", settings.keys2, settings.joystick2}};
    std::string text;
    for (const Player& player : players) {
        if (!text.empty()) text += "\n";
        text += UiText(player.name, language) + " (" + UiText("keyboard", language) + " / " +
                UiText("gamepad", language) + ")\n";
        for (int i = 0; i < kdv::kActions; ++i) {
            // Player 2 has no pause binding of its own: a code of 0 is no key.
            const int32_t key = player.keys[size_t(i)];
            const int32_t joy = player.joystick[size_t(i)];
            if (key == 0 && joy == 0) continue;
            text += "  " + UiText(kActions[i], language) + ": " + kdv::KeyName(key) + " / " +
                    kdv::JoystickName(joy) + "\n";
        }
    }
    return text;
}

}  // namespace app
