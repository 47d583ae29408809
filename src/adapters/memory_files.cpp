#include "adapters/memory_files.h"

#include <algorithm>
#include <cstring>

namespace adapters {

std::optional<uint64_t> MemoryFiles::Size(const std::string& path) {
    auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return it->second.size();
}

std::optional<std::vector<uint8_t>> MemoryFiles::Read(const std::string& path, uint64_t offset,
                                                      size_t length) {
    auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    if (failingReads.count(path)) throw kdv::FileError("Cannot read \"" + path + "\"");
    const auto& data = it->second;
    if (offset >= data.size()) return std::vector<uint8_t>{};
    const size_t n = std::min<uint64_t>(length, data.size() - offset);
    // memcpy rather than a range copy: the fuzz targets read whole files every run, and under
    // AddressSanitizer a range copy goes through its memmove, a byte at a time.
    std::vector<uint8_t> out(n);
    if (n) std::memcpy(out.data(), data.data() + offset, n);
    return out;
}

void MemoryFiles::Append(const std::string& path, const std::vector<uint8_t>& bytes) {
    auto it = files.find(path);
    if (it == files.end()) throw kdv::FileError("\"" + path + "\" does not exist");
    if (readOnly.count(path)) throw kdv::FileError("\"" + path + "\" cannot be written");
    it->second.insert(it->second.end(), bytes.begin(), bytes.end());
}

bool MemoryFiles::Replace(const std::string& path, const std::vector<uint8_t>& bytes) {
    if (readOnly.count(path)) return false;
    files[path] = bytes;
    return true;
}

}  // namespace adapters
