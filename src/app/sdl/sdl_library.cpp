#include "app/sdl/sdl_library.h"

#include <dlfcn.h>

#include <stdexcept>
#include <type_traits>

// The name SDL 2 is installed under (its run-time package, not its development files).
#ifndef KORDAVEL_SDL_LIBRARY
#define KORDAVEL_SDL_LIBRARY "libSDL2-2.0.so.0"
#endif

namespace app {
namespace {

struct Loaded {
    SdlLibrary library;
    std::string error;  // empty once loaded
};

const Loaded& Load() {
    static const Loaded loaded = [] {
        Loaded result;
        void* handle = dlopen(KORDAVEL_SDL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            result.error = why ? why : "cannot load " KORDAVEL_SDL_LIBRARY;
            return result;
        }
        SdlLibrary& sdl = result.library;
        auto take = [&](auto& function, const char* name) {
            function =
                reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, name));
            if (!function && result.error.empty())
                result.error = std::string(KORDAVEL_SDL_LIBRARY " has no ") + name;
        };
#define KORDAVEL_SDL_TAKE(name) take(sdl.name, "SDL_" #name);
        KORDAVEL_SDL_FUNCTIONS(KORDAVEL_SDL_TAKE)
#undef KORDAVEL_SDL_TAKE
        if (!result.error.empty()) return result;
        // There is no SDL window: joystick events must arrive whatever has the focus. The
        // program's signals are left as they are.
        sdl.SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
        sdl.SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        return result;
    }();
    return loaded;
}

}  // namespace

const SdlLibrary* LoadSdl(std::string* error) {
    const Loaded& loaded = Load();
    if (loaded.error.empty()) return &loaded.library;
    if (error) *error = loaded.error;
    return nullptr;
}

const SdlLibrary& Sdl() {
    const Loaded& loaded = Load();
    if (!loaded.error.empty()) throw std::logic_error("SDL is used before it was loaded");
    return loaded.library;
}

}  // namespace app
