#pragma once
// The services the game asks of its platform. The game reaches display, sound, input, clock,
// files and its main window only through these interfaces; the Qt/SDL program, the headless
// runner and the tests each provide their own implementations.
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kdv {

struct WorkBitmap;

// An I/O failure after a file was opened, or a failed write. Like any error inside a game
// step it ends the program with its message.
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Pixels of the 320 x 200 frame that changed since the frame presented before it.
struct PixelRun {
    uint16_t first = 0;  // row-major index
    uint16_t count = 0;  // never past the end of its row
};

// A presented frame as colour indices, for a display that converts them itself.
struct FrameChange {
    const uint8_t* pixels = nullptr;  // 320 x 200 colour indices, row-major
    const uint16_t* table = nullptr;  // the 256 16-bit pixels of the colour indices
    bool rgb565 = false;              // the table's pixels are 5-6-5, else 5-5-5
    int scale = 1;                    // 1 for 320 x 200, 2 for 640 x 400
    bool whole = false;               // every pixel counts as changed (size or table changed)
    const std::vector<PixelRun>* runs = nullptr;
};

class Display {
  public:
    virtual ~Display() = default;
    // False while there is no usable surface; the frame is then skipped.
    virtual bool CanDraw() const = 0;
    // Shows the converted 16-bit frame (draw at (0, 0) and flip).
    virtual void Present(const WorkBitmap& bitmap) = 0;
    // False for a display that shows nothing (a replay checked flat out): the frame is then
    // not converted at all.
    virtual bool WantsPixels() const { return true; }
    // True for a display that takes the changed pixels as colour indices (PresentRuns) in
    // place of the 16-bit bitmap, which is then left as it was.
    virtual bool TakesRuns() const { return false; }
    virtual void PresentRuns(const FrameChange&) {}
};

// The mixer's rate and the frames it renders at a time, the window's and the page's alike: sound
// effects need no quicker answer, and every buffer wakes the sound thread once.
inline constexpr int kSoundFrequency = 44100;
inline constexpr int kSoundBufferFrames = 1024;

class SoundDevice {
  public:
    virtual ~SoundDevice() = default;
    virtual void Initialise() = 0;  // throws when there is no usable device
    virtual void Finalise() = 0;
    // Replaces the voices with the given RIFF WAVE files, in order; throws on bad data. The
    // files are handed over: a device that keeps them for later takes them without a copy.
    virtual void LoadBank(std::vector<std::vector<uint8_t>> waves) = 0;
    virtual int Count() const = 0;
    // volume: hundredths of a decibel, 0 full, negative quieter. A sound already playing starts
    // again as a further voice. With wait the call returns when the sound has ended.
    virtual void Play(int item, int volume, bool wait) = 0;
};

// One force-feedback jolt: a constant force along (fx, fy), each in -10000..10000.
struct JoltEffect {
    int durationMs = 1000;
    int power = 10000;
    int fx = 0, fy = 0;
    int period = 50;
};

class InputDevice {
  public:
    virtual ~InputDevice() = default;
    // Takes the snapshot that every read of the following game step sees.
    virtual void Update() = 0;
    // Windows virtual-key code.
    virtual bool KeyDown(int code) const = 0;
    // 0 stick up, 1 down, 2 left, 3 right, 4..35 buttons 1..32.
    virtual bool JoyStateOn(int state) const = 0;
    // A device that holds the players' actions themselves (a replay, a network game) says
    // whether one binding slot is down: slot = row * 7 + action, rows player 1's keyboard and
    // joystick, then player 2's. Then no other slot bound to the same code goes down with it.
    // nullopt: the slot is down when its code is.
    virtual std::optional<bool> SlotDown(int /*slot*/) const { return std::nullopt; }
    virtual void SetForceFeedback(bool on) = 0;
    virtual void PlayJolt(const JoltEffect& effect) = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint32_t TickCount() = 0;  // milliseconds
};

// Held for as long as it lives; see FileSystem::Lock.
class FileLock {
  public:
    virtual ~FileLock() = default;
};

// Paths are relative to the game's root folder, with '/' separators ("data/tank.grp").
class FileSystem {
  public:
    virtual ~FileSystem() = default;
    virtual bool CanOpen(const std::string& path) = 0;
    virtual std::optional<uint64_t> Size(const std::string& path) = 0;
    // Up to length bytes from offset (fewer at the end of the file); nullopt when the file
    // cannot be opened. Throws FileError when reading fails after the open.
    virtual std::optional<std::vector<uint8_t>> Read(const std::string& path, uint64_t offset,
                                                     size_t length) = 0;
    // Appends to an existing file. Throws FileError, with nothing written, when the file
    // cannot be opened for writing (missing, read-only) or the write fails.
    virtual void Append(const std::string& path, const std::vector<uint8_t>& bytes) = 0;
    // Replaces the file as a whole; false when it cannot be written (the old file stays).
    virtual bool Replace(const std::string& path, const std::vector<uint8_t>& bytes) = 0;
    // Taken around reading a file and replacing it with a changed copy: another copy of the
    // game on the same files waits for it, so that neither loses what the other wrote. Null
    // where nothing else can reach the files.
    virtual std::unique_ptr<FileLock> Lock(const std::string& /*path*/) { return nullptr; }
    // The file as the player finds it, for messages: its real path where it has one.
    virtual std::string Where(const std::string& path) { return path; }
};

// What the game asks of its main window.
class Window {
  public:
    virtual ~Window() = default;
    virtual void ShowMessage(const std::string& text) = 0;  // modal, one OK button
    virtual void Close() = 0;                               // the close runs when control returns
    // An error ended a game step: report it where it can be read, then close with a failure code.
    virtual void Fail(const std::string& text) = 0;
    // Re-creates the display at width x height, windowed or full screen, and centres the window.
    virtual void ApplyMode(int width, int height, bool fullScreen) = 0;
    // Toggles between window and full screen at the current size.
    virtual void ToggleFullScreen() = 0;
    virtual bool IsFullScreen() const = 0;
    virtual void SetTimerEnabled(bool enabled) = 0;
    virtual void SetPaletteChecked(bool checked) = 0;
    virtual void SetLanguageChecked(int language) = 0;
    // Modal dialogs; each returns when the dialog has closed.
    virtual void ShowOptions() = 0;
    virtual void ShowAbout() = 0;
    virtual void ShowSelectLevel() = 0;
    // The editor added its map to the level file as this stage. Play does not depend on it.
    virtual void LevelSaved(int /*stage*/) {}
};

struct Services {
    Display* display = nullptr;
    SoundDevice* sound = nullptr;
    InputDevice* input = nullptr;
    Clock* clock = nullptr;
    FileSystem* files = nullptr;
    Window* window = nullptr;
};

}  // namespace kdv
