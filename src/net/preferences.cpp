#include "net/preferences.h"

#include <unistd.h>

#include <charconv>

#include "core/controls/settings.h"
#include "core/platform/services.h"

namespace net {
namespace {

constexpr const char* kSection = "Network";

std::optional<long> Number(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    long value = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (ec != std::errc() || end != text->data() + text->size()) return std::nullopt;
    return value;
}

// Printable, without the control characters a file edited by hand might hold.
std::string Clean(const std::string& name) {
    std::string out;
    for (char c : name)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
    // Cut at a character boundary of UTF-8.
    if (out.size() > kMaxNameBytes) {
        size_t at = kMaxNameBytes;
        while (at > 0 && (static_cast<unsigned char>(out[at]) & 0xC0) == 0x80) --at;
        out.resize(at);
    }
    return out;
}

}  // namespace

Preferences ParsePreferences(const std::string& text) {
    Preferences p;
    if (auto v = Number(kdv::IniValue(text, kSection, "OpenRouter"))) p.openRouter = *v != 0;
    if (auto v = Number(kdv::IniValue(text, kSection, "Discovery"))) p.discovery = *v != 0;
    if (auto v = Number(kdv::IniValue(text, kSection, "Port")); v && *v >= 1 && *v <= 65535)
        p.port = uint16_t(*v);
    if (auto v = kdv::IniValue(text, kSection, "Name")) p.name = Clean(*v);
    return p;
}

std::string MergePreferences(const std::string& text, const Preferences& p) {
    std::string out = kdv::SetIniValue(text, kSection, "OpenRouter", p.openRouter ? "1" : "0");
    out = kdv::SetIniValue(out, kSection, "Discovery", p.discovery ? "1" : "0");
    out = kdv::SetIniValue(out, kSection, "Port", std::to_string(p.port));
    // A ';' would start a comment when the file is read again.
    std::string name = Clean(p.name);
    for (char& c : name)
        if (c == ';') c = ',';
    return kdv::SetIniValue(out, kSection, "Name", name);
}

Preferences ReadPreferences(kdv::FileSystem& files) {
    auto data = files.Read(kdv::kSettingsFile, 0, size_t(kdv::kMaxSettingsBytes));
    return data ? ParsePreferences(std::string(data->begin(), data->end())) : Preferences{};
}

bool SavePreferences(kdv::FileSystem& files, const Preferences& p) {
    // Under the settings file's lock, so that another copy saving meanwhile loses nothing.
    const auto lock = files.Lock(kdv::kSettingsFile);
    std::string old;
    if (auto size = files.Size(kdv::kSettingsFile)) {
        if (*size > kdv::kMaxSettingsBytes) return false;
        auto data = files.Read(kdv::kSettingsFile, 0, size_t(*size));
        if (!data) return false;
        old.assign(data->begin(), data->end());
    }
    const std::string text = MergePreferences(old, p);
    if (text == old) return true;
    return files.Replace(kdv::kSettingsFile, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string ShownName(const Preferences& p) {
    if (!Clean(p.name).empty()) return Clean(p.name);
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || !host[0]) return "Kordavel";
    return Clean(host);
}

}  // namespace net
