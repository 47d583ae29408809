// The graphics pack: title picture, palette and sprites, drawn on every screen of a session.
#include "fuzz/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RunInput input = fuzz::SplitInput(data, size);
    adapters::MemoryFiles& files = fuzz::FreshFiles();
    files.files["data/tank.grp"].swap(input.file);
    fuzz::PlaySession(files, input.scene);
    return 0;
}
