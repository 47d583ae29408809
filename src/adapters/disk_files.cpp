#include "adapters/disk_files.h"

#include <cstdio>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace adapters {
namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

File Open(const std::filesystem::path& path, const char* mode) {
    return File(std::fopen(path.c_str(), mode));
}

bool IsRegular(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

// Where a save really writes: a symlinked file is written through to the file it names.
std::filesystem::path WriteTarget(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) return path;
    auto target = std::filesystem::canonical(path, ec);
    return ec ? std::filesystem::path() : target;
}

std::filesystem::path FolderOf(const std::filesystem::path& file) {
    return file.parent_path().empty() ? std::filesystem::path(".") : file.parent_path();
}

// The mode decides, not access(): root may write anything, but a file the player made
// read-only is meant to stay as it is.
bool ModeWritable(const struct stat& st) {
    return (st.st_mode & 0222) != 0;
}

// The new file of a save, beside the old one; hidden, and in a form no one gives a file.
std::string TemporaryPattern(const std::filesystem::path& target) {
    return (FolderOf(target) / ("." + target.filename().string() + ".XXXXXX")).string();
}

bool IsTemporaryOf(const std::string& name, const std::string& file) {
    auto suffixAfter = [&](const std::string& prefix, std::string& suffix) {
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0)
            return false;
        suffix = name.substr(prefix.size());
        // The characters mkstemp draws from, whatever the locale says of others.
        for (char c : suffix)
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
                return false;
        return true;
    };
    std::string suffix;
    if (suffixAfter("." + file + ".", suffix)) return true;
    if (!suffixAfter(file + ".", suffix)) return false;
    auto has = [&](char from, char to) {
        return std::any_of(suffix.begin(), suffix.end(),
                           [&](char c) { return c >= from && c <= to; });
    };
    return has('A', 'Z') && has('a', 'z') && has('0', '9');
}

class FolderLock : public kdv::FileLock {
  public:
    explicit FolderLock(int fd) : fd_(fd) {}
    ~FolderLock() override { ::close(fd_); }  // closing lets the lock go

  private:
    int fd_;
};

}  // namespace

std::unique_ptr<kdv::FileLock> LockFolderOf(const std::filesystem::path& file) {
    const std::filesystem::path target = WriteTarget(file);
    if (target.empty()) return nullptr;
    const int fd = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(fd);
            return nullptr;
        }
    }
    return std::make_unique<FolderLock>(fd);
}

int RemoveStaleTemporaries(const std::filesystem::path& file) {
    namespace fs = std::filesystem;
    const fs::path target = WriteTarget(file);
    if (target.empty()) return 0;
    const std::string name = target.filename().string();
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(FolderOf(target), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        // Only plain files: a symlink or folder of that name is no save of ours.
        if (!it->is_regular_file(kind) || it->is_symlink(kind)) continue;
        if (!IsTemporaryOf(it->path().filename().string(), name)) continue;
        std::error_code gone;
        if (fs::remove(it->path(), gone)) ++removed;
    }
    return removed;
}

bool DiskFiles::CanOpen(const std::string& path) {
    return IsRegular(Resolve(path)) && Open(Resolve(path), "rb") != nullptr;
}

std::optional<uint64_t> DiskFiles::Size(const std::string& path) {
    if (!CanOpen(path)) return std::nullopt;
    std::error_code ec;
    auto size = std::filesystem::file_size(Resolve(path), ec);
    if (ec) return std::nullopt;
    return size;
}

std::optional<std::vector<uint8_t>> DiskFiles::Read(const std::string& path, uint64_t offset,
                                                    size_t length) {
    if (!IsRegular(Resolve(path))) return std::nullopt;
    File f = Open(Resolve(path), "rb");
    if (!f) return std::nullopt;
    // Callers name the most they take (the settings ask for a megabyte); the buffer is made only
    // as large as what the file holds there, since every page of it is zeroed before the read.
    struct stat st {};
    if (::fstat(::fileno(f.get()), &st) == 0 && S_ISREG(st.st_mode)) {
        const uint64_t size = uint64_t(st.st_size);
        length = size_t(std::min<uint64_t>(length, size > offset ? size - offset : 0));
    }
    std::vector<uint8_t> data(length);
    if (std::fseek(f.get(), long(offset), SEEK_SET) != 0)
        throw kdv::FileError("Cannot read \"" + path + "\"");
    size_t got = length ? std::fread(data.data(), 1, length, f.get()) : 0;
    if (std::ferror(f.get())) throw kdv::FileError("Cannot read \"" + path + "\"");
    data.resize(got);
    return data;
}

void DiskFiles::Append(const std::string& path, const std::vector<uint8_t>& bytes) {
    // Only an existing file is appended to; "a" would quietly create a new one.
    if (!IsRegular(Resolve(path))) throw kdv::FileError("\"" + path + "\" does not exist");
    struct stat st {};
    if (::stat(Resolve(path).c_str(), &st) != 0 || !ModeWritable(st))
        throw kdv::FileError("\"" + path + "\" cannot be written");
    File f = Open(Resolve(path), "r+b");
    if (!f) throw kdv::FileError("\"" + path + "\" cannot be written");
    if (std::fseek(f.get(), 0, SEEK_END) != 0)
        throw kdv::FileError("\"" + path + "\" cannot be written");
    const long end = std::ftell(f.get());
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size() &&
                    std::fflush(f.get()) == 0;
    if (!ok) {
        // Leave the file as it was rather than with half a record.
        f.reset();
        std::error_code ec;
        std::filesystem::resize_file(Resolve(path), uintmax_t(end), ec);
        throw kdv::FileError("\"" + path + "\" could not be written");
    }
}

bool DiskFiles::Replace(const std::string& path, const std::vector<uint8_t>& bytes) {
    namespace fs = std::filesystem;
    // A symlinked file is written through: the new file goes beside the file the link names.
    const fs::path target = WriteTarget(Resolve(path));
    if (target.empty()) return false;
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    // A read-only file or folder stays as the player left it.
    if (exists &&
        (!S_ISREG(old.st_mode) || !ModeWritable(old) || ::access(target.c_str(), W_OK) != 0))
        return false;
    struct stat folder {};
    if (::stat(FolderOf(target).c_str(), &folder) != 0 || !ModeWritable(folder)) return false;
    mode_t mode = 0;
    if (exists) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    // A fresh name beside the target, created exclusively: nothing planted there is followed.
    std::string temp = TemporaryPattern(target);
    if (!Allow(Step::Create)) return false;
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        const size_t n = std::min(bytes.size() - done, kWriteChunk);
        if (!Allow(Step::Write)) {
            ok = false;
            break;
        }
        const ssize_t wrote = ::write(fd, bytes.data() + done, n);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0)
            ok = false;
        else
            done += size_t(wrote);
    }
    ok = ok && Allow(Step::Mode) && ::fchmod(fd, mode) == 0;
    ok = ok && Allow(Step::Sync) && ::fsync(fd) == 0;
    const bool mayClose = Allow(Step::Close);
    ok = ::close(fd) == 0 && mayClose && ok;
    ok = ok && Allow(Step::Rename) && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // The rename lasts only once the folder is on disk too.
    const int dir = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace adapters
