// The settings file: read at start-up, merged back at the close. Writing must keep what it
// read: a second merge changes nothing, and reading the merged file gives the same record.
#include "core/controls/settings.h"
#include "fuzz/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    kdv::Settings read;
    kdv::ParseSettings(text, read);
    const std::string merged = kdv::MergeSettings(text, read);
    if (kdv::MergeSettings(merged, read) != merged) __builtin_trap();
    kdv::Settings again;
    kdv::ParseSettings(merged, again);
    if (kdv::FormatSettings(again) != kdv::FormatSettings(read)) __builtin_trap();

    adapters::MemoryFiles files = fuzz::ShippedFiles();
    files.files[kdv::kSettingsFile] = fuzz::Bytes(data, size);
    fuzz::PlaySession(files);
    return 0;
}
