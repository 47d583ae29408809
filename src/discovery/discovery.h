#pragma once
// Finding games on the local network. A joiner asks by UDP broadcast on IPv4 and by the
// link-local all-nodes multicast on IPv6; every hosting game on the same network answers with
// what the joiner needs to choose: the host's name, the game, the build, whether the seat is
// free. Answers carry no secret (never the invite code), go only to askers on the network the
// question arrived from, and are rate-limited, on a thread of their own: a flood of questions
// neither slows the game nor grows its memory.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "net/protocol.h"

namespace discovery {

constexpr uint16_t kDiscoveryPort = 7509;
// Answers a host sends, at most: a burst, then so many a second.
constexpr int kAnswerBurst = 16;
constexpr int kAnswersPerSecond = 8;

// What a hosting game tells those who look for games.
struct Listing {
    std::string name;
    uint8_t mode = 2;  // 2 two players, 3 duel
    int32_t stage = 1;
    bool seatFree = true;
    uint16_t port = 0;     // the game's UDP port
    uint32_t address = 0;  // the host's IPv4 address to join at (host order; set per answer)
    uint32_t protocol = net::kProtocolVersion;
    net::Identity identity;
};

std::vector<uint8_t> EncodeQuestion();
bool IsQuestion(std::span<const uint8_t> bytes);
std::vector<uint8_t> EncodeAnswer(const Listing& listing);
std::optional<Listing> DecodeAnswer(std::span<const uint8_t> bytes);

// Spends a token per answer; tokens come back at a fixed rate up to a burst. A fixed size,
// whatever the flood.
class RateLimit {
  public:
    RateLimit(int burst, int perSecond) : burst_(burst), perSecond_(perSecond), tokens_(burst) {}
    bool Take(std::chrono::steady_clock::time_point now);

  private:
    int burst_, perSecond_;
    double tokens_;
    std::optional<std::chrono::steady_clock::time_point> last_;
};

// The hosting side: answers on its own thread until destroyed.
class Answerer {
  public:
    // Listens on the port on every interface; null with error set when it cannot.
    static std::unique_ptr<Answerer> Start(const Listing& listing, std::string& error,
                                           uint16_t port = kDiscoveryPort);
    ~Answerer();
    Answerer(const Answerer&) = delete;
    Answerer& operator=(const Answerer&) = delete;

    void SetSeatFree(bool free) { seatFree_ = free; }
    long Answered() const { return answered_; }
    long Ignored() const { return ignored_; }  // not a question, not from this network, or too many

  private:
    Answerer() = default;
    void Run();

    Listing listing_;
    int v4_ = -1, v6_ = -1, stop_[2] = {-1, -1};
    std::atomic<bool> seatFree_{true};
    std::atomic<long> answered_{0}, ignored_{0};
    std::thread thread_;
};

// A game heard, and the address to join it at.
struct Found {
    std::string address;  // "A.B.C.D:PORT"
    Listing listing;
    std::chrono::steady_clock::time_point heard;
};

// The joining side: asks, and collects the answers.
class Finder {
  public:
    static std::unique_ptr<Finder> Open(std::string& error, uint16_t port = kDiscoveryPort);
    ~Finder();
    Finder(const Finder&) = delete;
    Finder& operator=(const Finder&) = delete;

    // Asks every network this machine is on.
    void Ask();
    // Reads the answers that came, waiting up to waitMs for the first.
    void Poll(int waitMs);
    // Forgets games not heard for this long.
    void Forget(std::chrono::milliseconds unheard);
    const std::vector<Found>& Games() const { return games_; }

  private:
    Finder() = default;
    void Take(std::span<const uint8_t> bytes, uint32_t from);

    int v4_ = -1, v6_ = -1;
    uint16_t port_ = kDiscoveryPort;
    std::vector<Found> games_;
};

// Why this program cannot join the game (another build, other data files), or empty.
std::string Unjoinable(const Listing& listing, const net::Identity& mine);
// One line: "ADDRESS:PORT  name  mode, stage N, seat free|taken  build[  (why not)]".
std::string Line(const Found& found, const net::Identity& mine);

}  // namespace discovery
