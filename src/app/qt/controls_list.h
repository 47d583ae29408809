#pragma once
// File -> Controls: both players' keys and gamepad bindings as they are set now, as text in the
// player's language.
#include <string>

#include "core/controls/settings.h"

namespace app {

std::string ControlsText(const kdv::Settings& settings, int language);

}  // namespace app
