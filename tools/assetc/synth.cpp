#include "assetc/synth.h"

#include <algorithm>
#include <cmath>

namespace synth {
namespace {

// Rendering at four times the output rate and averaging takes the worst aliasing off the
// naive square and noise edges without losing their hard character.
constexpr int kOversample = 4;
constexpr double kPi = 3.14159265358979323846;

double EnvelopeAt(const Envelope& env, double hold, double t) {
    auto held = [&](double u) {
        if (u < env.attack) return u / env.attack;
        u -= env.attack;
        if (u < env.decay) return 1.0 - (1.0 - env.sustain) * u / env.decay;
        return env.sustain;
    };
    if (t < hold) return held(t);
    const double fromLevel = held(hold);
    const double r = t - hold;
    if (r >= env.release) return 0.0;
    return fromLevel * (1.0 - r / env.release);
}

class NoiseRegister {
  public:
    explicit NoiseRegister(uint16_t seed) : bits_(seed & 0x7FFF ? seed & 0x7FFF : 1) {}
    void Shift(bool shortMode) {
        const unsigned feedback = (bits_ ^ (bits_ >> (shortMode ? 6 : 1))) & 1;
        bits_ = static_cast<uint16_t>((bits_ >> 1) | (feedback << 14));
    }
    double Output() const { return (bits_ & 1) ? -1.0 : 1.0; }

  private:
    uint16_t bits_;
};

void RenderVoice(const Voice& voice, std::vector<double>& mix) {
    const double rate = double(kSampleRate) * kOversample;
    NoiseRegister noise(voice.seed);
    for (const Note& note : voice.notes) {
        const double noteStart = voice.start + note.start;
        const double length = note.hold + voice.env.release;
        const size_t first = static_cast<size_t>(std::ceil(noteStart * rate));
        const size_t last =
            std::min(mix.size(), static_cast<size_t>(std::ceil((noteStart + length) * rate)));
        const double glide = note.hold > 0 ? std::log(note.freqEnd / note.freq) / note.hold : 0.0;
        double phase = 0.0;
        for (size_t i = first; i < last; ++i) {
            const double t = double(i) / rate - noteStart;
            double freq = note.freq * std::exp(glide * std::min(t, note.hold));
            if (voice.vibratoCents != 0.0)
                freq *= std::exp2(voice.vibratoCents / 1200.0 *
                                  std::sin(2.0 * kPi * voice.vibratoRate * t));
            double value = 0.0;
            switch (voice.wave) {
                case Wave::Square:
                    value = phase < voice.duty ? 1.0 : -1.0;
                    break;
                case Wave::Triangle: {
                    // Sixteen steps, like the triangle channel of the old consoles.
                    const double tri = 1.0 - 4.0 * std::abs(phase - 0.5);
                    value = std::round((tri + 1.0) * 7.5) / 7.5 - 1.0;
                    break;
                }
                case Wave::Noise:
                    value = noise.Output();
                    break;
            }
            mix[i] += value * voice.volume * EnvelopeAt(voice.env, note.hold, t);
            phase += freq / rate;
            if (voice.wave == Wave::Noise) {
                for (; phase >= 1.0; phase -= 1.0) noise.Shift(voice.shortNoise);
            } else {
                phase -= std::floor(phase);
            }
        }
    }
}

}  // namespace

double VoiceEnd(const Voice& voice) {
    double end = voice.start;
    for (const Note& note : voice.notes)
        end = std::max(end, voice.start + note.start + note.hold + voice.env.release);
    return end;
}

double SoundLength(const Sound& sound) {
    double end = 0.0;
    for (const Voice& voice : sound.voices) end = std::max(end, VoiceEnd(voice));
    return end;
}

std::optional<double> NoteFrequency(std::string_view name) {
    static constexpr int kSemitone[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G from C
    if (name.size() < 2 || name[0] < 'A' || name[0] > 'G') return std::nullopt;
    int semitone = kSemitone[name[0] - 'A'];
    size_t i = 1;
    if (name[i] == '#')
        ++semitone, ++i;
    else if (name[i] == 'b')
        --semitone, ++i;
    if (i + 1 != name.size() || name[i] < '0' || name[i] > '8') return std::nullopt;
    const int midi = 12 * (name[i] - '0' + 1) + semitone;
    return 440.0 * std::exp2((midi - 69) / 12.0);
}

std::vector<int16_t> Render(const Sound& sound) {
    const size_t frames = static_cast<size_t>(std::ceil(SoundLength(sound) * kSampleRate));
    std::vector<double> fine(frames * kOversample, 0.0);
    for (const Voice& voice : sound.voices) RenderVoice(voice, fine);

    // Average down to the output rate, then take off the DC that unequal duties leave, as the
    // output stage of a console does.
    std::vector<double> out(frames);
    double previousIn = 0.0, previousOut = 0.0;
    for (size_t i = 0; i < frames; ++i) {
        double sum = 0.0;
        for (int k = 0; k < kOversample; ++k) sum += fine[i * kOversample + k];
        const double x = sum / kOversample;
        previousOut = x - previousIn + 0.995 * previousOut;
        previousIn = x;
        out[i] = previousOut;
    }

    // The filter's tail may leave the last samples off zero; a few milliseconds of fade keep
    // the end from clicking.
    const size_t fade = std::min(frames, static_cast<size_t>(kSampleRate * 0.004));
    for (size_t i = 0; i < fade; ++i) out[frames - 1 - i] *= double(i) / double(fade);

    double peak = 0.0;
    for (double v : out) peak = std::max(peak, std::abs(v));
    if (peak < 1e-9) return {};
    const double target =
        std::floor(32767.0 * std::pow(10.0, std::min(sound.peakDb, kMaxPeakDb) / 20.0));
    std::vector<int16_t> samples(frames);
    for (size_t i = 0; i < frames; ++i)
        samples[i] = static_cast<int16_t>(std::lround(out[i] * target / peak));
    return samples;
}

}  // namespace synth
