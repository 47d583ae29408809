#include "app/sdl/sdl_library.h"

#include <dlfcn.h>

#include <stdexcept>

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
        LibraryLoader loader(KORDAVEL_SDL_LIBRARY, result.error);
        SdlLibrary& sdl = result.library;
#define KORDAVEL_SDL_TAKE(name) loader.Take(sdl.name, "SDL_" #name);
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

LibraryLoader::LibraryLoader(const char* library, std::string& error)
    : library_(library), error_(error) {
    handle_ = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = dlerror();
        error_ = why ? why : std::string("cannot load ") + library;
    }
}

void* LibraryLoader::Find(const char* name) {
    if (!handle_) return nullptr;
    void* function = dlsym(handle_, name);
    if (!function && error_.empty()) error_ = std::string(library_) + " has no " + name;
    return function;
}

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
