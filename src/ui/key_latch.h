#pragma once
// The keyboard as the game steps see it. Key events arrive between ticks; each tick takes one
// snapshot. A key pressed and released again before the next snapshot still shows as down in
// that snapshot, so a short tap is never lost between two ticks.
#include <array>
#include <cstddef>

namespace ui {

class KeyLatch {
  public:
    static constexpr int kKeys = 256;

    void Press(int code) {
        if (!Valid(code)) return;
        live_[std::size_t(code)] = true;
        pressed_[std::size_t(code)] = true;
    }
    void Release(int code) {
        if (Valid(code)) live_[std::size_t(code)] = false;
    }
    // Focus went elsewhere: no key is held any more (taps not yet seen still count once).
    void ReleaseAll() { live_.fill(false); }

    // Held now, between ticks (Alt for the window's own keys).
    bool Live(int code) const { return Valid(code) && live_[std::size_t(code)]; }

    // The keys of the next game step: held now, or pressed since the last snapshot.
    void TakeSnapshot() {
        for (std::size_t i = 0; i < std::size_t(kKeys); ++i) snapshot_[i] = live_[i] || pressed_[i];
        pressed_.fill(false);
    }
    bool Down(int code) const { return Valid(code) && snapshot_[std::size_t(code)]; }

  private:
    static bool Valid(int code) { return code > 0 && code < kKeys; }

    std::array<bool, kKeys> live_{}, pressed_{}, snapshot_{};
};

}  // namespace ui
