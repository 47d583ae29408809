#include "adapters/disk_files.h"

#include <cstdio>
#include <memory>

#include <fcntl.h>
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

}  // namespace

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
    std::error_code ec;
    fs::path target = Resolve(path);
    // A symlinked file is written through: the new file goes beside the file the link names.
    if (fs::is_symlink(fs::symlink_status(target, ec))) {
        target = fs::canonical(target, ec);
        if (ec) return false;
    }
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    // A read-only file stays as the player left it.
    if (exists && (!S_ISREG(old.st_mode) || ::access(target.c_str(), W_OK) != 0)) return false;
    mode_t mode = 0;
    if (exists) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    // A fresh name beside the target, created exclusively: nothing planted there is followed.
    std::string temp = target.string() + ".XXXXXX";
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
    const int dir = ::open(target.parent_path().empty() ? "." : target.parent_path().c_str(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace adapters
