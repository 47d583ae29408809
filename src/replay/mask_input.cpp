#include "replay/mask_input.h"

namespace replay {

bool MaskInput::Any(int code, bool joystick) const {
    if (!settings) return false;
    const kdv::BindingRow* rows[4] = {&settings->keys1, &settings->joystick1, &settings->keys2,
                                      &settings->joystick2};
    for (int r = joystick ? 1 : 0; r < 4; r += 2)
        for (int a = 0; a < kdv::kActions; ++a) {
            const int32_t bound = (*rows[r])[size_t(a)];
            if ((joystick ? (bound & 0xFF) : bound) == code &&
                (mask >> (r * kdv::kActions + a) & 1))
                return true;
        }
    return false;
}

}  // namespace replay
