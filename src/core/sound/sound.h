#pragma once
// The ten sound effects: the bank, and playing an effect at the set volume.
#include <cstdint>
#include <vector>

namespace kdv {

struct Game;

enum SoundEffect : int {
    sfxBonusPlaced = 0,
    sfxClank = 1,
    sfxEnemyDestroyed = 2,
    sfxBaseFalls = 3,
    sfxExit = 4,
    sfxPlayerDestroyed = 5,
    sfxShot = 6,
    sfxStageStart = 7,
    sfxBonusTaken = 8,
    sfxExtraLife = 9,
};
constexpr int kSoundEffects = 10;
constexpr const char* kSoundBankFile = "data/tank.snd";

// The bank is RIFF WAVE files laid back to back, each of odd size followed by a pad byte.
// Returns them in order; stops at the first piece that is not a whole RIFF file (so a truncated
// bank keeps its complete sounds). A wave whose chunks declare more bytes than it holds comes
// back empty, keeping the numbers of the waves after it.
std::vector<std::vector<uint8_t>> SplitSoundBank(const std::vector<uint8_t>& bank);
void LoadSoundBank(Game& game);
// Effect 4 (the exit) is played to its end before the call returns.
void PlaySound(Game& game, int percent, int effect);
// The device volume for a percentage of the set volume, in hundredths of a decibel.
int SoundVolume(int percent, int32_t soundVolume);

}  // namespace kdv
