#include "app/qt/controls_list.h"

#include "core/controls/player_controls.h"
#include "ui/captions.h"

namespace app {
namespace {

struct NamedKey {
    int code;
    const char* name;
};

// Where the options dialog's key names (the original's list) name a key wrongly or not at all,
// the help says which key it is. Codes that no key of the window gives stay "N/A".
constexpr NamedKey kPlainNames[] = {
    {12, "Clear"},        {19, "Pause"},   {20, "Caps Lock"}, {39, "Right"}, {42, "N/A"},
    {44, "Print Screen"}, {46, "Delete"},  {47, "N/A"},       {59, "N/A"},   {61, "N/A"},
    {63, "N/A"},          {66, "B"},       {67, "C"},         {91, "Super"}, {92, "Right Super"},
    {93, "Menu"},         {106, "Gray *"},
};

std::string PlainKeyName(int32_t code) {
    if (code >= 112 && code <= 123) return "F" + std::to_string(code - 111);
    for (const NamedKey& key : kPlainNames)
        if (key.code == code) return key.name;
    return kdv::KeyName(code);
}

}  // namespace

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
    for (int p = 0; p < 2; ++p) {
        const Player& player = players[p];
        if (!text.empty()) text += "\n";
        text += ui::UiText(player.name, language) + " (" + ui::UiText("keyboard", language) +
                " / " + ui::UiText("gamepad", language) + ")\n";
        // Only what the game reads: a binding it never looks at would promise a key that does
        // nothing.
        for (int i = 0; i < kdv::kActions; ++i) {
            if (!kdv::BindingIsRead(p + 1, false, i)) continue;
            text += "  " + ui::UiText(kActions[i], language) + ": " +
                    PlainKeyName(player.keys[size_t(i)]);
            if (kdv::BindingIsRead(p + 1, true, i))
                text += " / " + kdv::JoystickName(player.joystick[size_t(i)]);
            text += "\n";
        }
    }
    return text;
}

}  // namespace app
