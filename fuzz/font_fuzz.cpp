// The bitmap font: every text of the title, the stage intro, the panel and the editor.
#include "fuzz/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RunInput input = fuzz::SplitInput(data, size);
    adapters::MemoryFiles& files = fuzz::FreshFiles();
    files.files["data/tank.fnt"].swap(input.file);
    fuzz::PlaySession(files, input.scene);
    return 0;
}
