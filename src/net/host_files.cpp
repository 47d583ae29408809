#include "net/host_files.h"

#include <algorithm>

#include "core/controls/settings.h"
#include "core/game.h"
#include "core/screen/graphics_pack.h"
#include "core/sound/sound.h"
#include "replay/game_state.h"

namespace net {

HostFiles::HostFiles(kdv::FileSystem& disk, const std::string& settings,
                     const std::vector<uint8_t>& levels, std::string during)
    : disk_(disk),
      settings_(settings.begin(), settings.end()),
      levels_(levels),
      during_(std::move(during)) {}

bool HostFiles::CanOpen(const std::string& path) {
    return Held(path) || disk_.CanOpen(path);
}

std::optional<uint64_t> HostFiles::Size(const std::string& path) {
    if (auto* held = Held(path)) return held->size();
    return disk_.Size(path);
}

std::optional<std::vector<uint8_t>> HostFiles::Read(const std::string& path, uint64_t offset,
                                                    size_t length) {
    const std::vector<uint8_t>* held = Held(path);
    if (!held) return disk_.Read(path, offset, length);
    if (offset >= held->size()) return std::vector<uint8_t>{};
    const size_t n = size_t(std::min<uint64_t>(length, held->size() - offset));
    return std::vector<uint8_t>(held->begin() + long(offset), held->begin() + long(offset + n));
}

void HostFiles::Append(const std::string& path, const std::vector<uint8_t>&) {
    throw kdv::FileError("\"" + path + "\" is not written " + during_);
}

const std::vector<uint8_t>* HostFiles::Held(const std::string& path) const {
    if (path == kdv::kSettingsFile) return &settings_;
    if (path == kdv::kLevelFile) return &levels_;
    return nullptr;
}

int HostGameSound::Count() const {
    return outer_ ? outer_->Count() : kdv::kSoundEffects;
}

MidGame MidGameOf(const kdv::Game& game, uint32_t mask) {
    return {replay::SaveGameState(game), game.SelectLevel.position, game.SelectLevel.gameItem,
            mask};
}

std::optional<std::string> TakeMidGame(const MidGame& from, kdv::Game& game) {
    std::string why;
    if (!replay::LoadGameState(from.state, game, why)) return why;
    game.SelectLevel.position = from.position;
    game.SelectLevel.gameItem = from.gameItem;
    game.presentCache.valid = false;
    return std::nullopt;
}

}  // namespace net
