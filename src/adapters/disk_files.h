#pragma once
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "core/platform/services.h"

namespace adapters {

// The folder a file is written in (through a symlink, the folder of the file it names) locked
// against other programs that take the same lock; waits for them. Null when the folder cannot
// be opened. The folder is locked rather than the file, because every save puts a new file in
// the old one's place, and because a file not made yet has nothing to lock.
std::unique_ptr<kdv::FileLock> LockFolderOf(const std::filesystem::path& file);

// Removes what a killed save left beside file: ".NAME.XXXXXX", and "NAME.XXXXXX" of earlier
// versions when its six characters mix capitals, small letters and digits (a name a person
// gives a backup is left alone). Call it holding LockFolderOf(file), so that no save in
// progress loses its new file. Returns how many were removed.
int RemoveStaleTemporaries(const std::filesystem::path& file);

// The game's files under its root folder (the executable's folder, or --root), or where they
// were placed. Replace writes a new file beside the old one and renames it into place, keeping
// the old file's mode; a symlinked file is written through to the file it names. A file or
// folder without write permission in its mode is left untouched, also for root.
class DiskFiles : public kdv::FileSystem {
  public:
    explicit DiskFiles(std::filesystem::path root) : root_(std::move(root)) {}

    bool CanOpen(const std::string& path) override;
    std::optional<uint64_t> Size(const std::string& path) override;
    std::optional<std::vector<uint8_t>> Read(const std::string& path, uint64_t offset,
                                             size_t length) override;
    void Append(const std::string& path, const std::vector<uint8_t>& bytes) override;
    bool Replace(const std::string& path, const std::vector<uint8_t>& bytes) override;
    std::unique_ptr<kdv::FileLock> Lock(const std::string& path) override {
        return LockFolderOf(Resolve(path));
    }
    std::string Where(const std::string& path) override { return Resolve(path).string(); }

    // A file kept somewhere other than under the root (an installed game's settings and levels).
    void Place(const std::string& path, std::filesystem::path where) {
        placed_[path] = std::move(where);
    }
    std::filesystem::path Resolve(const std::string& path) const {
        auto it = placed_.find(path);
        return it != placed_.end() ? it->second : root_ / path;
    }

    // The steps of Replace that change something on disk. The new file is written in chunks
    // of kWriteChunk bytes, one Write step each.
    enum class Step { Create, Write, Mode, Sync, Close, Rename };
    static constexpr size_t kWriteChunk = 4096;

  protected:
    // Asked before each step; false makes the step fail as a full disk would. Tests override
    // it to fail, or to stop dead as a killed program would, at any step.
    virtual bool Allow(Step) { return true; }

  private:
    std::filesystem::path root_;
    std::map<std::string, std::filesystem::path> placed_;
};

}  // namespace adapters
