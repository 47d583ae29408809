// The level file: the count of stages, the demonstration's map, a stage and the editor's
// append. The append must leave every whole record as it was and the new one readable.
#include <algorithm>

#include "core/field/map.h"
#include "core/screen/graphics_pack.h"
#include "fuzz/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::RunInput input = fuzz::SplitInput(data, size);
    const std::vector<uint8_t>& before = input.file;
    adapters::MemoryFiles& files = fuzz::FreshFiles();
    files.files[kdv::kLevelFile] = before;
    // The last byte also picks the stage, past the end of the file too.
    fuzz::PlaySession(files, input.scene, {.stage = 1 + input.rest % 40});
    const std::vector<uint8_t>& after = files.files[kdv::kLevelFile];
    if (after != before) {
        const size_t whole = before.size() / kdv::kLevelRecordBytes * kdv::kLevelRecordBytes;
        if (after.size() != whole + kdv::kLevelRecordBytes) __builtin_trap();
        if (!std::equal(before.begin(), before.begin() + long(whole), after.begin()))
            __builtin_trap();
    }
    return 0;
}
