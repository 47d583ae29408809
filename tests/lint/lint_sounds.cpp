// Lint of the sound bank: ten RIFF WAVE files back to back, each PCM mono 16-bit, of the
// length its event allows and never louder than −1 dBFS; and the synthesizer behind them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kEffects = 10;
constexpr int kMaxPeak = 29204;  // −1 dBFS
const fs::path kBankFile = fs::path(KORDAVEL_DATA_DIR) / "tank.snd";
const fs::path kAssetc = fs::path(KORDAVEL_DATA_DIR) / ".." / "tools" / "assetc";
const fs::path kSources = fs::path(__FILE__).parent_path() / ".." / ".." / "assets" / "sounds";

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[at + i];
    return v;
}

struct Effect {
    uint32_t rate = 0;
    std::vector<int16_t> samples;
    double Seconds() const { return double(samples.size()) / rate; }
    int Peak() const {
        int peak = 0;
        for (int16_t s : samples) peak = std::max(peak, std::abs(int(s)));
        return peak;
    }
    double Energy() const {
        double sum = 0;
        for (int16_t s : samples) sum += double(s) * s;
        return sum / rate;
    }
    double RmsDb() const {
        return 10 * std::log10(Energy() * rate / samples.size() / (32767.0 * 32767.0));
    }
};

// Splits the bank by RIFF sizes. Every fault is reported with the byte offset where it is.
std::vector<Effect> ParseBank(const std::vector<uint8_t>& b) {
    std::vector<Effect> effects;
    size_t at = 0;
    while (at < b.size()) {
        SCOPED_TRACE("wave " + std::to_string(effects.size()) + " at byte " + std::to_string(at));
        if (b.size() - at < 44) {
            ADD_FAILURE() << "too short for a WAVE header";
            break;
        }
        auto tag = [&](size_t o) {
            return std::string(b.begin() + at + o, b.begin() + at + o + 4);
        };
        const uint32_t riffSize = Le(b, at + 4, 4);
        const uint32_t rate = Le(b, at + 24, 4), dataSize = Le(b, at + 40, 4);
        EXPECT_EQ(tag(0), "RIFF");
        EXPECT_EQ(tag(8), "WAVE");
        EXPECT_EQ(tag(12), "fmt ");
        EXPECT_EQ(Le(b, at + 16, 4), 16u) << "fmt chunk size";
        EXPECT_EQ(Le(b, at + 20, 2), 1u) << "PCM";
        EXPECT_EQ(Le(b, at + 22, 2), 1u) << "mono";
        EXPECT_EQ(Le(b, at + 28, 4), rate * 2) << "bytes per second";
        EXPECT_EQ(Le(b, at + 32, 2), 2u) << "block align";
        EXPECT_EQ(Le(b, at + 34, 2), 16u) << "bits per sample";
        EXPECT_EQ(tag(36), "data");
        EXPECT_EQ(riffSize, 36 + dataSize) << "RIFF and data sizes disagree";
        EXPECT_EQ(dataSize % 2, 0u);
        if (testing::Test::HasFailure() || rate == 0 || at + 8 + riffSize > b.size()) {
            ADD_FAILURE() << "cannot go on past this wave";
            break;
        }
        Effect e;
        e.rate = rate;
        for (size_t i = 0; i < dataSize / 2; ++i)
            e.samples.push_back(int16_t(Le(b, at + 44 + 2 * i, 2)));
        effects.push_back(std::move(e));
        at += 8 + riffSize;
    }
    return effects;
}

}  // namespace

TEST(SoundBank, HoldsExactlyTenWellFormedWaves) {
    const std::vector<uint8_t> bank = ReadBytes(kBankFile);
    ASSERT_FALSE(bank.empty()) << kBankFile;
    EXPECT_EQ(ParseBank(bank).size(), size_t(kEffects));
}

TEST(SoundBank, EachEffectFitsItsEvent) {
    const std::vector<Effect> effects = ParseBank(ReadBytes(kBankFile));
    ASSERT_EQ(effects.size(), size_t(kEffects));
    // Seconds, shortest and longest, by effect number.
    const double limits[kEffects][2] = {
        {0.15, 1.0},   // bonus appears
        {0.02, 0.2},   // clank: also the tally's tick, so well under 200 ms
        {0.3, 1.5},    // explosion
        {1.0, 4.0},    // game over
        {0.3, 1.5},    // exit: the program waits for it
        {0.5, 2.5},    // player's tank lost
        {0.02, 0.15},  // shot: fired often
        {1.6, 2.5},    // stage start, about two seconds
        {0.1, 1.0},    // pick-up
        {0.4, 2.0},    // extra life
    };
    for (int n = 0; n < kEffects; ++n) {
        const Effect& e = effects[n];
        SCOPED_TRACE("effect " + std::to_string(n));
        // Nobody can listen here, so the numbers go to the log for a reviewer.
        std::printf("effect %d: %.3f s, peak %d (%.2f dBFS), RMS %.1f dBFS\n", n, e.Seconds(),
                    e.Peak(), 20 * std::log10(e.Peak() / 32767.0), e.RmsDb());
        EXPECT_GE(e.Seconds(), limits[n][0]);
        EXPECT_LT(e.Seconds(), limits[n][1]);
        EXPECT_LE(e.Peak(), kMaxPeak) << "louder than -1 dBFS";
        EXPECT_GE(e.Peak(), kMaxPeak / 4) << "hardly audible";
        EXPECT_GT(e.RmsDb(), -30.0) << "mostly silence";
        // Starting and ending at rest keeps the effects from clicking.
        EXPECT_LT(std::abs(e.samples.front()), 500);
        EXPECT_LT(std::abs(e.samples.back()), 500);
    }
    EXPECT_GT(effects[5].Energy(), effects[2].Energy()) << "losing a tank sounds heavier";
}

// The compiler, run on copies of the sources in a scratch folder.
class SoundCompiler : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("kordavel-sounds-" + std::to_string(std::random_device{}()));
        fs::create_directories(dir_ / "src");
        for (const auto& e : fs::directory_iterator(kSources)) fs::copy(e.path(), dir_ / "src");
    }
    void TearDown() override { fs::remove_all(dir_); }
    int Run() {
        const std::string cmd = kAssetc.string() + " sounds '" + (dir_ / "src").string() + "' '" +
                                (dir_ / "out.snd").string() + "' 2>'" + (dir_ / "err").string() +
                                "'";
        return std::system(cmd.c_str());
    }
    std::string Errors() {
        std::ostringstream s;
        s << std::ifstream(dir_ / "err").rdbuf();
        return s.str();
    }
    void Write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / "src" / name, std::ios::trunc) << text;
    }
    fs::path dir_;
};

TEST_F(SoundCompiler, RebuildIsByteForByteTheSame) {
    ASSERT_EQ(Run(), 0) << Errors();
    EXPECT_TRUE(ReadBytes(dir_ / "out.snd") == ReadBytes(kBankFile)) << "noise must be seeded";
}

TEST_F(SoundCompiler, TonesHaveTheirPitchLengthAndLevel) {
    // Effect 0 replaced by a plain A4 square of half a second, normalised to −6 dBFS.
    Write("0-bonus-appears.txt",
          "effect 0 test\npeak -6\nvoice square\nenv 0 0 1 0\ntone A4 0.5\n");
    ASSERT_EQ(Run(), 0) << Errors();
    const std::vector<Effect> effects = ParseBank(ReadBytes(dir_ / "out.snd"));
    ASSERT_EQ(effects.size(), size_t(kEffects));
    const Effect& tone = effects[0];
    EXPECT_EQ(tone.rate, 22050u);
    EXPECT_EQ(tone.samples.size(), 11025u);
    EXPECT_EQ(tone.Peak(), int(32767 * std::pow(10.0, -6 / 20.0)));
    int rises = 0;  // upward zero crossings over the middle 0.4 s
    for (size_t i = 2205; i < 11025 - 2205; ++i)
        rises += tone.samples[i - 1] < 0 && tone.samples[i] >= 0;
    EXPECT_NEAR(rises / 0.3, 440.0, 8.0);
}

TEST_F(SoundCompiler, BadSourcesNameFileAndLine) {
    const struct {
        const char* text;
        const char* expect;
    } cases[] = {
        {"effect 6 shot\nvoice saw\n", "6-shot.txt:2: unknown voice 'saw'"},
        {"effect 6 shot\npeak -0.5\n", "6-shot.txt:2: peak (dBFS) -0.5 is outside"},
        {"effect 6 shot\nvoice square\ntone H4 0.1\n", "6-shot.txt:3: expected a number"},
        {"effect 6 shot\nvoice noise\nduty 0.5\n", "6-shot.txt:3: 'duty' is for square"},
        {"effect 6 shot\nvoice square\nnotes 0.1\n", "6-shot.txt:3: expected 'notes STEP"},
        {"effect 2 shot\nvoice square\ntone A4 0.1\n", "effect 2 is already defined"},
        {"; nothing here\n", "6-shot.txt:1: no 'effect NUMBER NAME' line"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expect);
        Write("6-shot.txt", c.text);
        EXPECT_NE(Run(), 0);
        EXPECT_NE(Errors().find(c.expect), std::string::npos) << Errors();
    }
    fs::remove(dir_ / "src" / "6-shot.txt");
    EXPECT_NE(Run(), 0);
    EXPECT_NE(Errors().find("no source defines effect 6"), std::string::npos) << Errors();
    EXPECT_FALSE(fs::exists(dir_ / "out.snd"));
}
