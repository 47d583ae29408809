// The settings file: read at start-up, merged back at the close. Writing must keep what was
// read: merging again changes nothing, and reading the saved file gives the same record.
#include "core/controls/settings.h"
#include "fuzz/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::RunInput input = fuzz::SplitInput(data, size);
    adapters::MemoryFiles& files = fuzz::FreshFiles();
    files.files[kdv::kSettingsFile].swap(input.file);
    // No scene changes a setting the file holds, so the close saves what start-up read.
    const kdv::Settings& read = fuzz::PlaySession(files, input.scene, {.close = true}).Settings;

    const std::vector<uint8_t>& saved = files.files[kdv::kSettingsFile];
    const std::string merged(saved.begin(), saved.end());
    if (kdv::MergeSettings(merged, read) != merged) __builtin_trap();
    kdv::Settings again;
    kdv::ParseSettings(merged, again);
    if (kdv::FormatSettings(again) != kdv::FormatSettings(read)) __builtin_trap();
    return 0;
}
