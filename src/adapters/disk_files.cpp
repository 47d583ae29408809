#include "adapters/disk_files.h"

#include <cstdio>
#include <memory>

#include <unistd.h>

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
    const auto target = Resolve(path);
    auto temp = target;
    temp += ".new";
    {
        File f = Open(temp, "wb");
        if (!f) return false;
        bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
        ok = std::fflush(f.get()) == 0 && ok;
        if (!ok) {
            f.reset();
            std::remove(temp.c_str());
            return false;
        }
    }
    // A read-only settings file stays as the player left it.
    std::error_code ec;
    if (std::filesystem::exists(target, ec) && access(target.c_str(), W_OK) != 0) {
        std::remove(temp.c_str());
        return false;
    }
    std::filesystem::rename(temp, target, ec);
    if (ec) std::remove(temp.c_str());
    return !ec;
}

}  // namespace adapters
