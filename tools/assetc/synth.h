#pragma once
// A small synthesizer in the manner of an 8-bit console's sound chip: square (with duty),
// stepped triangle and LFSR noise voices, each note with its own envelope and pitch glide.
// Rendering is deterministic: the noise registers start from the voice's seed.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace synth {

constexpr int kSampleRate = 22050;
// Peaks are normalised to at most this level (dBFS); −1 dB keeps clear of clipping.
constexpr double kMaxPeakDb = -1.0;

enum class Wave { Square, Triangle, Noise };

struct Envelope {
    double attack = 0.002;  // seconds from silence to full level
    double decay = 0.0;     // seconds from full level down to the sustain level
    double sustain = 1.0;   // level held until the note is released
    double release = 0.01;  // seconds from the held level back to silence
};

struct Note {
    double start = 0.0;    // seconds after the voice starts
    double hold = 0.0;     // seconds before the release begins
    double freq = 440.0;   // Hz at the start (for noise: how often the register shifts)
    double freqEnd = 440;  // Hz at the end of the hold, reached on an exponential glide
};

struct Voice {
    Wave wave = Wave::Square;
    double duty = 0.5;  // share of the square's period spent high
    double start = 0.0;
    double volume = 1.0;
    Envelope env;
    double vibratoRate = 0.0;  // Hz
    double vibratoCents = 0.0;
    bool shortNoise = false;  // 93-step register: a metallic, pitched noise
    uint16_t seed = 1;
    std::vector<Note> notes;
};

struct Sound {
    std::vector<Voice> voices;
    double peakDb = -1.5;  // level of the loudest sample after normalising
};

// Seconds from the start of the sound to the end of the voice's last release.
double VoiceEnd(const Voice& voice);
double SoundLength(const Sound& sound);

// Note names such as "A4" (440 Hz), "C#5", "Bb3"; nullopt when the text is not one.
std::optional<double> NoteFrequency(std::string_view name);

// Mixes and normalises the sound. Returns no samples if it would be silent.
std::vector<int16_t> Render(const Sound& sound);

}  // namespace synth
