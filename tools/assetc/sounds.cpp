// Builds the sound bank: each effect's source under assets/sounds describes a few synthesizer
// voices; the bank is the ten rendered effects as RIFF WAVE files back to back, effect 0 first.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "assetc/assetc.h"
#include "assetc/grid_text.h"
#include "assetc/synth.h"
#include "assetc/wave.h"

namespace fs = std::filesystem;

namespace {

constexpr int kEffectCount = 10;

struct SourceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct EffectSource {
    int number = -1;
    std::string file;
    std::string name;
    synth::Sound sound;
};

class Parser {
  public:
    explicit Parser(std::string file) : file_(std::move(file)) {}

    [[noreturn]] void Fail(const std::string& message) const {
        throw SourceError(file_ + ":" + std::to_string(line_) + ": " + message);
    }

    double Number(const std::string& token, const char* what) const {
        try {
            size_t used = 0;
            const double v = std::stod(token, &used);
            if (used == token.size()) return v;
        } catch (const std::exception&) {
        }
        Fail(std::string("expected a number for ") + what + ", found '" + token + "'");
    }

    double Ranged(const std::string& token, const char* what, double lo, double hi) const {
        const double v = Number(token, what);
        if (!(v >= lo && v <= hi))  // also refuses "nan"
            Fail(std::string(what) + " " + token + " is outside " + Format(lo) + ".." + Format(hi));
        return v;
    }

    // A frequency in Hz or a note name.
    double Pitch(const std::string& token) const {
        if (auto hz = synth::NoteFrequency(token)) return *hz;
        const double hz = Number(token, "a pitch (Hz or a note name such as C#5)");
        if (hz < 10.0 || hz > 200000.0) Fail("pitch " + token + " Hz is out of range");
        return hz;
    }

    EffectSource Parse(std::istream& in) {
        EffectSource effect;
        effect.file = file_;
        int number = -1;
        synth::Voice* voice = nullptr;
        double cursor = 0.0;  // where the voice's next note starts
        double gate = 1.0;    // share of each step that a sequenced note is held
        double bend = 0.0;    // semitones each sequenced note glides by
        std::string text;
        while (std::getline(in, text)) {
            ++line_;
            if (auto semi = text.find(';'); semi != std::string::npos) text.erase(semi);
            const std::vector<std::string> w = assetc::SplitWords(text);
            if (w.empty()) continue;
            const std::string& key = w[0];
            auto args = [&](size_t lo, size_t hi) {
                if (w.size() - 1 < lo || w.size() - 1 > hi)
                    Fail("'" + key + "' takes " +
                         (lo == hi ? std::to_string(lo)
                                   : std::to_string(lo) + " to " + std::to_string(hi)) +
                         " values");
            };
            if (number < 0 && key != "effect")
                Fail("the file must begin with 'effect NUMBER NAME'");
            if (key == "effect") {
                if (number >= 0) Fail("a second 'effect' line");
                args(2, 2);
                number = static_cast<int>(Ranged(w[1], "effect number", 0, kEffectCount - 1));
                if (std::to_string(number) != w[1])
                    Fail("effect number must be a whole number 0..9");
                effect.name = w[2];
                effect.number = number;
            } else if (key == "peak") {
                args(1, 1);
                effect.sound.peakDb = Ranged(w[1], "peak (dBFS)", -30.0, synth::kMaxPeakDb);
            } else if (key == "voice") {
                args(1, 1);
                synth::Voice v;
                if (w[1] == "square")
                    v.wave = synth::Wave::Square;
                else if (w[1] == "triangle")
                    v.wave = synth::Wave::Triangle;
                else if (w[1] == "noise")
                    v.wave = synth::Wave::Noise;
                else
                    Fail("unknown voice '" + w[1] + "' (square, triangle or noise)");
                effect.sound.voices.push_back(v);
                voice = &effect.sound.voices.back();
                cursor = 0.0, gate = 1.0, bend = 0.0;
            } else if (!voice) {
                Fail("'" + key +
                     "' belongs to a voice; start one with 'voice square|triangle|noise'");
            } else if (key == "at") {
                args(1, 1);
                voice->start = Ranged(w[1], "start time", 0.0, 10.0);
            } else if (key == "duty") {
                args(1, 1);
                if (voice->wave != synth::Wave::Square) Fail("'duty' is for square voices");
                voice->duty = Ranged(w[1], "duty", 0.05, 0.95);
            } else if (key == "volume") {
                args(1, 1);
                voice->volume = Ranged(w[1], "volume", 0.0, 1.0);
            } else if (key == "env") {
                args(4, 4);
                voice->env.attack = Ranged(w[1], "attack", 0.0, 5.0);
                voice->env.decay = Ranged(w[2], "decay", 0.0, 5.0);
                voice->env.sustain = Ranged(w[3], "sustain", 0.0, 1.0);
                voice->env.release = Ranged(w[4], "release", 0.0, 5.0);
            } else if (key == "vibrato") {
                args(2, 2);
                voice->vibratoRate = Ranged(w[1], "vibrato rate", 0.0, 40.0);
                voice->vibratoCents = Ranged(w[2], "vibrato depth (cents)", 0.0, 1200.0);
            } else if (key == "noise") {
                args(1, 1);
                if (voice->wave != synth::Wave::Noise) Fail("'noise' is for noise voices");
                if (w[1] != "short" && w[1] != "long") Fail("noise mode is 'short' or 'long'");
                voice->shortNoise = w[1] == "short";
            } else if (key == "seed") {
                args(1, 1);
                voice->seed = static_cast<uint16_t>(Ranged(w[1], "seed", 1, 32767));
            } else if (key == "gate") {
                args(1, 1);
                gate = Ranged(w[1], "gate", 0.05, 1.0);
            } else if (key == "bend") {
                args(1, 1);
                bend = Ranged(w[1], "bend (semitones)", -48.0, 48.0);
            } else if (key == "rest") {
                args(1, 1);
                cursor += Ranged(w[1], "rest", 0.0, 10.0);
            } else if (key == "tone") {
                // tone PITCH [-> PITCH] SECONDS
                if (w.size() != 3 && !(w.size() == 5 && w[2] == "->"))
                    Fail("expected 'tone PITCH SECONDS' or 'tone PITCH -> PITCH SECONDS'");
                synth::Note n;
                n.start = cursor;
                n.freq = Pitch(w[1]);
                n.freqEnd = w.size() == 5 ? Pitch(w[3]) : n.freq;
                n.hold = Ranged(w.back(), "tone length", 0.001, 10.0);
                voice->notes.push_back(n);
                cursor += n.hold;
            } else if (key == "notes") {
                // notes STEP PITCH[*STEPS] ... ; '-' is a rest of one step
                if (w.size() < 3) Fail("expected 'notes STEP PITCH...'");
                const double step = Ranged(w[1], "step", 0.005, 2.0);
                for (size_t i = 2; i < w.size(); ++i) {
                    std::string token = w[i];
                    double steps = 1.0;
                    if (auto star = token.find('*'); star != std::string::npos) {
                        steps = Ranged(token.substr(star + 1), "note length in steps", 0.25, 64.0);
                        token.erase(star);
                    }
                    if (token != "-") {
                        synth::Note n;
                        n.start = cursor;
                        n.freq = Pitch(token);
                        n.freqEnd = n.freq * std::exp2(bend / 12.0);
                        n.hold = step * steps * gate;
                        voice->notes.push_back(n);
                    }
                    cursor += step * steps;
                }
            } else {
                Fail("unknown word '" + key + "'");
            }
        }
        if (number < 0) Fail("no 'effect NUMBER NAME' line");
        for (const auto& v : effect.sound.voices)
            if (v.notes.empty()) Fail("a voice has no 'tone' or 'notes'");
        if (effect.sound.voices.empty()) Fail("the effect has no voices");
        return effect;
    }

  private:
    static std::string Format(double v) {
        std::ostringstream s;
        s << v;
        return s.str();
    }

    std::string file_;
    int line_ = 0;
};

}  // namespace

int BuildSounds(const std::string& sourceDir, const std::string& outFile) {
    try {
        std::map<int, EffectSource> effects;
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(sourceDir))
            if (entry.is_regular_file() && entry.path().extension() == ".txt")
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        for (const auto& path : files) {
            std::ifstream in(path);
            if (!in) throw SourceError(path.string() + ": cannot be read");
            Parser parser(path.string());
            EffectSource effect = parser.Parse(in);
            const int number = effect.number;
            if (auto it = effects.find(number); it != effects.end())
                throw SourceError(path.string() + ": effect " + std::to_string(number) +
                                  " is already defined in " + it->second.file);
            effects.emplace(number, std::move(effect));
        }
        std::vector<uint8_t> bank;
        for (int number = 0; number < kEffectCount; ++number) {
            auto it = effects.find(number);
            if (it == effects.end())
                throw SourceError(sourceDir + ": no source defines effect " +
                                  std::to_string(number));
            const std::vector<int16_t> samples = synth::Render(it->second.sound);
            if (samples.empty()) throw SourceError(it->second.file + ": the effect is silent");
            const std::vector<uint8_t> wave = EncodeWave(samples, synth::kSampleRate);
            bank.insert(bank.end(), wave.begin(), wave.end());
            if (wave.size() & 1) bank.push_back(0);  // RIFF pads odd sizes; the game skips it
        }
        if (!assetc::WriteBinaryFile(outFile, bank))
            throw SourceError(outFile + ": cannot be written");
        return 0;
    } catch (const SourceError& e) {
        std::fprintf(stderr, "assetc: %s\n", e.what());
    } catch (const fs::filesystem_error& e) {
        std::fprintf(stderr, "assetc: %s\n", e.what());
    }
    return 1;
}
