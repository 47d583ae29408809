// The bitmap font: every text of the title, the stage intro, the panel and the editor.
#include "fuzz/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    adapters::MemoryFiles files = fuzz::ShippedFiles();
    files.files["data/tank.fnt"] = fuzz::Bytes(data, size);
    fuzz::PlaySession(files);
    return 0;
}
