#pragma once
#include <map>
#include <set>

#include "core/platform/services.h"

namespace adapters {

// Files held in memory, for tests and benchmarks. Files can be marked read-only or failing.
class MemoryFiles : public kdv::FileSystem {
  public:
    std::map<std::string, std::vector<uint8_t>> files;
    std::set<std::string> readOnly;
    std::set<std::string> failingReads;  // open, then fail to read

    bool CanOpen(const std::string& path) override { return files.count(path) != 0; }
    std::optional<uint64_t> Size(const std::string& path) override;
    std::optional<std::vector<uint8_t>> Read(const std::string& path, uint64_t offset,
                                             size_t length) override;
    void Append(const std::string& path, const std::vector<uint8_t>& bytes) override;
    bool Replace(const std::string& path, const std::vector<uint8_t>& bytes) override;
};

}  // namespace adapters
