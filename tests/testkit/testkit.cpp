#include "testkit/testkit.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/field/map.h"
#include "core/flow/game_flow.h"
#include "core/flow/main_form.h"

namespace testkit {

Sprite SolidSprite(uint8_t colour) {
    Sprite s;
    s.fill(colour);
    return s;
}

Sprite FramedSprite(uint8_t outline, uint8_t inside) {
    Sprite s;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            s[size_t(y * 16 + x)] = (x == 0 || y == 0 || x == 15 || y == 15) ? outline : inside;
    return s;
}

GraphicsPack StandardGraphics() {
    GraphicsPack p;
    for (int i = 0; i < 256; ++i) {
        p.palette[size_t(i * 3)] = uint8_t(i % 64);
        p.palette[size_t(i * 3 + 1)] = uint8_t((i * 7) % 64);
        p.palette[size_t(i * 3 + 2)] = uint8_t((i * 13) % 64);
    }
    p.palette[0] = p.palette[1] = p.palette[2] = 0;
    for (int i = 0; i < 32; ++i) p.sprites[size_t(i)] = FramedSprite(133, 0);
    for (int i = 32; i < 64; ++i) p.sprites[size_t(i)] = FramedSprite(68, 0);
    p.sprites[64] = SolidSprite(40);         // the base
    p.sprites[65] = SolidSprite(4);          // brick
    p.sprites[66] = SolidSprite(17);         // steel
    for (int code = 4; code <= 6; ++code) {  // brick pieces and their steel twins
        Sprite brick = SolidSprite(255), steel = SolidSprite(255);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                bool on = code == 4 ? y >= 8 : code == 5 ? x >= 8 : x < 8;
                if (on) brick[size_t(y * 16 + x)] = 8, steel[size_t(y * 16 + x)] = 20;
            }
        p.sprites[size_t(63 + code)] = brick;
        p.sprites[size_t(68 + code)] = steel;
    }
    p.sprites[70] = SolidSprite(8);    // thin brick
    p.sprites[71] = SolidSprite(100);  // rock
    p.sprites[75] = SolidSprite(50);   // cover
    p.sprites[76] = SolidSprite(1);    // water
    p.sprites[77] = SolidSprite(9);
    p.sprites[78] = SolidSprite(70);  // entry star
    p.sprites[79] = SolidSprite(71);
    for (int i = 80; i <= 85; ++i) p.sprites[size_t(i)] = SolidSprite(uint8_t(220 + i - 80));
    p.sprites[86] = FramedSprite(160, 255);  // shield
    p.sprites[87] = FramedSprite(161, 255);
    for (int i = 88; i <= 93; ++i)
        p.sprites[size_t(i)] = FramedSprite(uint8_t(i <= 90 ? 66 : 120), 255);
    return p;
}

Bytes EncodeGraphics(const GraphicsPack& pack) {
    Bytes out(42500, 0);
    out[0] = uint8_t(pack.titleWidth);
    out[1] = uint8_t(pack.titleWidth >> 8);
    out[2] = uint8_t(pack.titleHeight);
    out[3] = uint8_t(pack.titleHeight >> 8);
    const size_t pixels = std::min<size_t>(size_t(pack.titleWidth) * pack.titleHeight, 17664);
    for (size_t i = 0; i < pixels; ++i) out[4 + i] = pack.titleColour;
    std::copy(pack.palette.begin(), pack.palette.end(), out.begin() + 17668);
    for (size_t s = 0; s < 94; ++s)
        std::copy(pack.sprites[s].begin(), pack.sprites[s].end(),
                  out.begin() + long(18436 + s * 256));
    return out;
}

Bytes MakeFont(uint8_t width, uint8_t height, const std::function<int(int)>& inkWidth) {
    Bytes out = {width, height};
    for (int c = 0; c < 256; ++c) {
        const int ink = inkWidth(c);
        const uint8_t row = ink < 0 ? 0 : uint8_t(0xFF00 >> (ink + 1));
        for (int r = 0; r < 8; ++r) out.push_back(row);
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

Bytes StandardFont() {
    return MakeFont(8, 8, [](int c) { return c == ' ' ? -1 : 4; });
}

LevelRecord DefaultLevel() {
    LevelRecord r;
    auto cell = [&](int c, int row) -> uint8_t& { return r.map[size_t(c * 12 + row)]; };
    cell(6, 11) = 1;
    cell(5, 11) = 5;
    cell(7, 11) = 6;
    for (int c = 5; c <= 7; ++c) cell(c, 10) = 4;
    return r;
}

Bytes EncodeLevels(const std::vector<LevelRecord>& records) {
    Bytes out;
    for (const LevelRecord& r : records) {
        out.insert(out.end(), r.map.begin(), r.map.end());
        out.insert(out.end(), r.lineup.begin(), r.lineup.end());
    }
    return out;
}

Bytes MakeWave(int samples) {
    auto le32 = [](Bytes& b, uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
    };
    auto le16 = [](Bytes& b, uint16_t v) {
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
    };
    Bytes w = {'R', 'I', 'F', 'F'};
    le32(w, uint32_t(36 + samples * 2));
    w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    le32(w, 16);
    le16(w, 1);
    le16(w, 1);
    le32(w, 22050);
    le32(w, 44100);
    le16(w, 2);
    le16(w, 16);
    w.insert(w.end(), {'d', 'a', 't', 'a'});
    le32(w, uint32_t(samples * 2));
    w.resize(w.size() + size_t(samples) * 2, 0);
    return w;
}

Bytes MakeSoundBank(int sounds) {
    Bytes bank;
    for (int i = 0; i < sounds; ++i) {
        Bytes w = MakeWave(10 + i);
        bank.insert(bank.end(), w.begin(), w.end());
    }
    return bank;
}

namespace {

std::vector<std::pair<std::string, Bytes>> StandardFiles(int levelRecords) {
    std::vector<LevelRecord> levels(size_t(levelRecords), DefaultLevel());
    return {
        {"data/tank.grp", EncodeGraphics(StandardGraphics())},
        {"data/tank.fnt", StandardFont()},
        {"data/tank.snd", MakeSoundBank(10)},
        {"data/lswap.dat", EncodeLevels(levels)},
    };
}

}  // namespace

void WriteStandardData(const std::string& root, int levelRecords) {
    std::filesystem::create_directories(std::filesystem::path(root) / "data");
    for (const auto& [path, bytes] : StandardFiles(levelRecords)) {
        std::ofstream out(std::filesystem::path(root) / path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
}

Rig::Rig() {
    input.record = true;
    sound.record = true;
    game = kdv::MakeGame(ServicesWith(files));
}

void Rig::InstallStandardData(int levelRecords) {
    for (auto& [path, bytes] : StandardFiles(levelRecords)) files.files[path] = bytes;
}

void Rig::InstallDataFrom(const std::string& dataFolder) {
    for (const char* name : {"tank.grp", "tank.fnt", "tank.snd", "lswap.dat"}) {
        std::ifstream in(std::filesystem::path(dataFolder) / name, std::ios::binary);
        files.files[std::string("data/") + name] = Bytes(std::istreambuf_iterator<char>(in), {});
    }
}

bool Rig::StartUp() {
    kdv::FormCreate(*game);
    return kdv::FormActivate(*game);
}

void Rig::Tick(int n) {
    for (int i = 0; i < n; ++i) {
        kdv::DXTimerTimer(*game);
        clock.now += kdv::kTimerInterval;
    }
}

FieldRig::FieldRig(uint8_t mode, const std::string& dataFolder) {
    if (dataFolder.empty())
        InstallStandardData();
    else
        InstallDataFrom(dataFolder);
    StartUp();
    g().GameMode = mode;
    g().StageNumber = 1;
    kdv::StartStage(g());
    // No computer tanks unless a test asks for them.
    for (kdv::EnemyTank& tank : g().enemies) kdv::ResetEnemySlot(tank);
    g().EnemyReserve.remaining = 0;
}

void FieldRig::Build() {
    kdv::BuildBackground(g());
}

void FieldRig::Frame() {
    kdv::CopyToFrame(g().FrameScreen, g().BackScreen);
}

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace testkit
