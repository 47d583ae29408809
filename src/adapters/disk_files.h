#pragma once
#include <filesystem>

#include "core/platform/services.h"

namespace adapters {

// The game's files under its root folder (the executable's folder, or --root).
class DiskFiles : public kdv::FileSystem {
  public:
    explicit DiskFiles(std::filesystem::path root) : root_(std::move(root)) {}

    bool CanOpen(const std::string& path) override;
    std::optional<uint64_t> Size(const std::string& path) override;
    std::optional<std::vector<uint8_t>> Read(const std::string& path, uint64_t offset,
                                             size_t length) override;
    void Append(const std::string& path, const std::vector<uint8_t>& bytes) override;
    bool Replace(const std::string& path, const std::vector<uint8_t>& bytes) override;

    std::filesystem::path Resolve(const std::string& path) const { return root_ / path; }

  private:
    std::filesystem::path root_;
};

}  // namespace adapters
