#pragma once
// SDL starts and stops its subsystems without a lock of its own, and the joystick and the sound
// are opened on threads of their own: every start and stop of a subsystem holds this lock.
#include <mutex>

namespace app {

inline std::mutex& SdlSubsystemLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace app
