#pragma once
// The invite code of a hosted game: ten characters a person can read over the phone, with no
// two that look alike, drawn from the system's secure random source anew for every game. A
// joiner from outside the host's network proves it knows the code by hashing it with a fresh
// challenge from the host, so a Hello overheard or replayed is worth nothing.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace net {

constexpr size_t kCodeLength = 10;
// No 0/O, 1/I/L or U/V pairs to mistake for one another.
constexpr std::string_view kCodeLetters = "23456789ABCDEFGHJKMNPQRSTWXYZ";
constexpr size_t kChallengeBytes = 16;
constexpr size_t kProofBytes = 16;
using Nonce = std::array<uint8_t, kChallengeBytes>;
using Proof = std::array<uint8_t, kProofBytes>;

// Bytes from the system's secure random source; false when there is none.
bool SecureRandom(uint8_t* out, size_t n);

// A new code, as it is shown: "ABCDE-FGHJK".
std::string NewInviteCode();
// The code as typed or pasted, without spaces, dashes or case; nothing when it cannot be one.
std::optional<std::string> NormalizeCode(std::string_view typed);
// The proof that goes with a Hello: a hash of the challenge and the normalised code (empty
// when the joiner has none).
Proof ProveCode(const Nonce& challenge, std::string_view normalizedCode);
// Compares two proofs in constant time.
bool SameProof(const Proof& a, const Proof& b);

// "HOST:PORT", "HOST:PORT CODE", or a line a host shows ("Friends join at HOST:PORT with the
// code CODE."): the address and the code (empty when none was given).
struct Invite {
    std::string address;
    std::string code;
};
std::optional<Invite> ParseInvite(std::string_view text, std::string& error);

// SHA-256, for the proof.
std::array<uint8_t, 32> Sha256(const uint8_t* data, size_t n);

}  // namespace net
