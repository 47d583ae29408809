#include "net/invite.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <vector>

namespace net {

bool SecureRandom(uint8_t* out, size_t n) {
    while (n > 0) {
        const ssize_t got = getrandom(out, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out += got;
        n -= size_t(got);
    }
    return true;
}

std::string NewInviteCode() {
    std::string code;
    // Bytes past the last whole multiple of the alphabet are drawn again, so that every letter
    // is as likely as any other.
    const unsigned limit = 256 - 256 % kCodeLetters.size();
    while (code.size() < kCodeLength) {
        uint8_t bytes[32];
        if (!SecureRandom(bytes, sizeof bytes)) throw std::runtime_error("no secure random source");
        for (uint8_t b : bytes)
            if (b < limit && code.size() < kCodeLength)
                code += kCodeLetters[b % kCodeLetters.size()];
    }
    return code.substr(0, 5) + "-" + code.substr(5);
}

std::optional<std::string> NormalizeCode(std::string_view typed) {
    std::string code;
    for (char c : typed) {
        if (c == ' ' || c == '-' || c == '\t') continue;
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (kCodeLetters.find(c) == std::string_view::npos) return std::nullopt;
        code += c;
    }
    if (code.size() != kCodeLength) return std::nullopt;
    return code;
}

Proof ProveCode(const Nonce& challenge, std::string_view normalizedCode) {
    static constexpr std::string_view kLabel = "Kordavel invite 1";
    std::vector<uint8_t> text(kLabel.begin(), kLabel.end());
    text.insert(text.end(), challenge.begin(), challenge.end());
    text.insert(text.end(), normalizedCode.begin(), normalizedCode.end());
    const auto digest = Sha256(text.data(), text.size());
    Proof proof;
    std::copy_n(digest.begin(), proof.size(), proof.begin());
    return proof;
}

bool SameProof(const Proof& a, const Proof& b) {
    // Every byte is looked at whatever the first difference: the time says nothing.
    volatile uint8_t diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff = uint8_t(diff | (a[i] ^ b[i]));
    return diff == 0;
}

std::optional<Invite> ParseInvite(std::string_view text, std::string& error) {
    // Words split by blanks; an address is the word with a colon, a code what follows "code"
    // or the word after the address.
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (!word.empty()) words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(word);
    Invite invite;
    size_t at = words.size();
    for (size_t i = 0; i < words.size(); ++i)
        if (words[i].find(':') != std::string::npos) {
            at = i;
            break;
        }
    if (at == words.size()) {
        error = "\"" + std::string(text) + "\" holds no HOST:PORT";
        return std::nullopt;
    }
    invite.address = words[at];
    while (!invite.address.empty() &&
           std::string_view(".,;").find(invite.address.back()) != std::string_view::npos)
        invite.address.pop_back();
    size_t codeAt = at + 1;
    for (size_t i = at + 1; i + 1 < words.size(); ++i)
        if (words[i] == "code") codeAt = i + 1;
    if (codeAt < words.size()) {
        std::string code = words[codeAt];
        while (!code.empty() && (code.back() == '.' || code.back() == ',')) code.pop_back();
        // The code may have been written with a space in the middle.
        if (!NormalizeCode(code) && codeAt + 1 < words.size()) code += words[codeAt + 1];
        while (!code.empty() && (code.back() == '.' || code.back() == ',')) code.pop_back();
        auto normal = NormalizeCode(code);
        if (!normal) {
            error = "\"" + code + "\" is not an invite code (" + std::to_string(kCodeLength) +
                    " letters and digits)";
            return std::nullopt;
        }
        invite.code = *normal;
    }
    return invite;
}

namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t Rotr(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

void Block(uint32_t h[8], const uint8_t* p) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t(p[4 * i]) << 24 | uint32_t(p[4 * i + 1]) << 16 |
               uint32_t(p[4 * i + 2]) << 8 | p[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t t1 =
            k + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        const uint32_t t2 =
            (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        k = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    h[5] += f;
    h[6] += g;
    h[7] += k;
}

}  // namespace

std::array<uint8_t, 32> Sha256(const uint8_t* data, size_t n) {
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    size_t whole = n - n % 64;
    for (size_t at = 0; at < whole; at += 64) Block(h, data + at);
    uint8_t tail[128] = {};
    const size_t rest = n - whole;
    std::copy_n(data + whole, rest, tail);
    tail[rest] = 0x80;
    const size_t blocks = rest + 9 > 64 ? 2 : 1;
    const uint64_t bits = uint64_t(n) * 8;
    for (int i = 0; i < 8; ++i) tail[blocks * 64 - 1 - i] = uint8_t(bits >> (8 * i));
    for (size_t b = 0; b < blocks; ++b) Block(h, tail + 64 * b);
    std::array<uint8_t, 32> out;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) out[size_t(4 * i + j)] = uint8_t(h[i] >> (24 - 8 * j));
    return out;
}

}  // namespace net
