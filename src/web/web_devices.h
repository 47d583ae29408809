#pragma once
// The page's devices: the picture goes to a canvas, sounds to WebAudio, files to memory with the
// player's own ones copied to the browser's storage. The keyboard and the gamepads are the
// runner's VirtualInput, set by page.js between ticks.
#include <array>
#include <cstdint>
#include <string>

#include "adapters/memory_files.h"
#include "core/platform/services.h"
#include "core/screen/screen.h"

namespace web {

// A rectangle of the frame, in frame pixels.
struct Box {
    int left = 0, top = 0, width = 0, height = 0;
};

// Keeps the last frame as 320 x 200 RGBA for the canvas, in the colours a screen dump shows.
// Only the pixels the game changed are converted, and the rectangles around them are noted, so
// that page.js uploads those alone and skips a frame that shows nothing new.
class CanvasDisplay : public kdv::Display {
  public:
    static constexpr int kMaxBoxes = 16;

    bool CanDraw() const override { return true; }
    void Present(const kdv::WorkBitmap& bitmap) override;
    bool TakesRuns() const override { return true; }
    void PresentRuns(const kdv::FrameChange& change) override;
    const uint8_t* Pixels() const { return reinterpret_cast<const uint8_t*>(rgba_.data()); }
    // The rectangles changed since TakeChanges was last called (at most kMaxBoxes: the last
    // takes in what does not fit), as left, top, width, height after their count.
    const int32_t* TakeChanges();
    bool presented = false;  // a frame came since the last tick

  private:
    void Changed(int left, int top, int right, int bottom);

    std::array<uint32_t, size_t(kdv::kScreenPixels)> rgba_{};
    std::array<uint32_t, 256> colours_{};
    std::array<Box, kMaxBoxes> boxes_{};
    int boxCount_ = 0;
    std::array<int32_t, 1 + 4 * kMaxBoxes> taken_{};
};

class WebAudioSound : public kdv::SoundDevice {
  public:
    void Initialise() override;
    void Finalise() override {}
    void LoadBank(std::vector<std::vector<uint8_t>> waves) override;
    int Count() const override { return count_; }
    void Play(int item, int volume, bool wait) override;

  private:
    int count_ = 0;
};

// Data files in memory; the settings and the level file are handed to page.js when the game
// writes them, to be kept in the browser's storage. A write the browser does not keep fails.
class PageFiles : public adapters::MemoryFiles {
  public:
    void Append(const std::string& path, const std::vector<uint8_t>& bytes) override;
    bool Replace(const std::string& path, const std::vector<uint8_t>& bytes) override;
    bool keep = true;  // off for a replay's game, whose writes stay in memory
};

class PageClock : public kdv::Clock {
  public:
    uint32_t TickCount() override;
    bool manual = false;  // the tests' clock: 13 ms a tick, as the headless runner counts
    uint32_t now = 0;
};

class PageWindow : public kdv::Window {
  public:
    void ShowMessage(const std::string& text) override;
    void Close() override;
    void Fail(const std::string& text) override;
    void ApplyMode(int width, int height, bool fullScreen) override;
    void ToggleFullScreen() override;
    bool IsFullScreen() const override { return fullScreen_; }
    void SetTimerEnabled(bool enabled) override { timerEnabled = enabled; }
    void SetPaletteChecked(bool checked) override;
    void SetLanguageChecked(int language) override;
    void ShowOptions() override;
    void ShowAbout() override;
    void ShowSelectLevel() override;

    bool timerEnabled = false;
    bool failed = false;
    int language = 0;

  private:
    bool fullScreen_ = false;
    int width_ = 640, height_ = 400;
};

// Calls into page.js.
void PageCall(const char* what, const std::string& text = "", const uint8_t* bytes = nullptr,
              size_t size = 0);

}  // namespace web
