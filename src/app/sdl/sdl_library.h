#pragma once
// SDL, loaded by the device threads when they first open a device rather than with the
// program: SDL and the libraries it names were some 4 ms of the start before main, and the
// first frame waits for neither device.
#include <SDL.h>

#include <string>

namespace app {

// The SDL functions the devices call.
// clang-format off
#define KORDAVEL_SDL_FUNCTIONS(F)                                                                  \
    F(Delay) F(GetError) F(GetTicks64) F(HapticClose) F(HapticNewEffect)                           \
    F(HapticOpenFromJoystick) F(HapticQuery) F(HapticRunEffect) F(HapticStopAll)                   \
    F(HapticUpdateEffect) F(InitSubSystem) F(JoystickClose) F(JoystickGetAxis)                     \
    F(JoystickGetButton) F(JoystickGetHat) F(JoystickInstanceID) F(JoystickIsHaptic)               \
    F(JoystickNumAxes) F(JoystickNumButtons) F(JoystickNumHats) F(JoystickOpen) F(NumJoysticks)    \
    F(PollEvent) F(QuitSubSystem) F(RWFromConstMem) F(SetHint) F(TLSCleanup)
// clang-format on

struct SdlLibrary {
#define KORDAVEL_SDL_POINTER(name) decltype(&SDL_##name) name = nullptr;
    KORDAVEL_SDL_FUNCTIONS(KORDAVEL_SDL_POINTER)
#undef KORDAVEL_SDL_POINTER
};

// Loads SDL once, from whichever thread asks first, and sets the program's hints; nullptr, with
// the reason in `error`, when it cannot be loaded.
const SdlLibrary* LoadSdl(std::string* error = nullptr);

// The library LoadSdl loaded: for the calls made after a device was opened through it.
const SdlLibrary& Sdl();

// Opens a shared library by name and takes the functions asked for from it: `error` says what
// was missing, and stays empty when all were found.
class LibraryLoader {
  public:
    LibraryLoader(const char* library, std::string& error);
    template <class Function>
    void Take(Function& function, const char* name) {
        function = reinterpret_cast<Function>(Find(name));
    }

  private:
    void* Find(const char* name);
    const char* library_;
    std::string& error_;
    void* handle_ = nullptr;
};

}  // namespace app
