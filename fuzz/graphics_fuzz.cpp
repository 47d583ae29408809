// The graphics pack: title picture, palette and sprites, drawn on every screen of a session.
#include "fuzz/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    adapters::MemoryFiles files = fuzz::ShippedFiles();
    files.files["data/tank.grp"] = fuzz::Bytes(data, size);
    fuzz::PlaySession(files);
    return 0;
}
