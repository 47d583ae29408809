#pragma once
// UDP through ENet between two machines. The host listens on its port; whoever connects is a
// candidate until the host admits one as its partner (the first that proves itself, see
// door.h); during the game a candidate may still take the partner's place (a player coming
// back, see rejoin.h) or be kept beside it as a spectator, and is otherwise told "busy".
// Candidates share a table sized for many strangers at once; when it fills, the one idle longest
// is turned away. The joiner connects to
// the one address it was given and listens nowhere else.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct _ENetHost;
struct _ENetPeer;
struct _ENetEvent;

namespace net {

// "HOST:PORT", "PORT" (any address) or "[::1]:PORT" is not supported: ENet speaks IPv4.
struct Address {
    std::string host;  // empty: every interface (hosting only)
    uint16_t port = 0;
};
std::optional<Address> ParseAddress(const std::string& text, bool hostOptional, std::string& error);

// Why the host closed a connection, carried by ENet with the disconnect so that even a program
// that speaks another protocol hears it.
enum CloseCode : uint32_t {
    kClosedPlain = 0,
    kClosedBusy = 0x4B42,     // another player holds the host's slot
    kClosedLate = 0x4B4C,     // no Hello came in time
    kClosedRefused = 0x4B52,  // the Hello did not fit (a Refuse says why)
    kClosedCode = 0x4B43,     // the invite code was missing or wrong
    kClosedFull = 0x4B46,     // the game has as many spectators as it takes
    kClosedSlow = 0x4B53,     // a spectator fell too far behind the game
};

// ENet peers the host keeps: the partner, the spectators to come, and room for strangers
// knocking at the same time.
constexpr size_t kPeerSlots = 64;

class Link {
  public:
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    static std::unique_ptr<Link> Listen(const Address& at, std::string& error);
    static std::unique_ptr<Link> Connect(const Address& to, std::string& error);

    struct Event {
        enum Kind { None, Connected, Received, Disconnected } kind = None;
        std::vector<uint8_t> bytes;
        uint32_t code = kClosedPlain;  // Disconnected: the CloseCode the other side gave
        // Host: the candidate the event is of; 0 for the partner.
        uint32_t candidate = 0;
        bool watcher = false;  // the candidate was kept as a spectator
    };
    // Waits up to waitMs for one event of the partner or a candidate (others are handled
    // inside).
    Event Service(uint32_t waitMs);
    bool Connected() const { return peer_ != nullptr && connected_; }
    // Disconnected by this side, and the partner has not yet taken what was still going out.
    bool Closing() const { return peer_ != nullptr && !connected_; }
    // Channel 0 unreliable (inputs, pings), channel 1 reliable and in order (all else).
    void Send(const std::vector<uint8_t>& bytes, bool reliable);
    // Sends what is queued now, without waiting for anything.
    void Flush();
    void Disconnect();
    // Host: turns the partner away, after what is queued for it, and takes the next machine
    // that connects instead.
    void DropPartner(CloseCode why);
    // Host: the candidate becomes the partner.
    void Admit(uint32_t candidate);
    // Host: a candidate stays, beside the partner, as a spectator: it is never crowded out,
    // and its events come marked as a watcher's under the same id.
    void Keep(uint32_t candidate);
    // Host: the candidate takes the partner's place; the partner's connection is dropped
    // without a word (it is the same player, come back on a new one).
    void Replace(uint32_t candidate);
    // Host: a candidate or spectator is turned away, told why; false when it was gone already
    // (crowded out). at once: without waiting for what is still queued for it to arrive (a
    // spectator that stalled would never take it).
    bool Dismiss(uint32_t candidate, CloseCode why, bool atOnce = false);
    void SendTo(uint32_t candidate, const std::vector<uint8_t>& bytes, bool reliable);
    // A candidate's IPv4 address (host byte order) and "IP:PORT"; 0 and empty when unknown.
    uint32_t CandidateIp(uint32_t candidate) const;
    std::string CandidateAddress(uint32_t candidate) const;
    // Host: nothing from this IPv4 address is heard until the time (its datagrams are dropped
    // before ENet reads them).
    void Shun(uint32_t ip, std::chrono::steady_clock::time_point until);
    bool Shunned(uint32_t ip, std::chrono::steady_clock::time_point now) const;
    // The partner's address as "IP:PORT"; empty when there is none.
    std::string PartnerAddress() const;
    // The partner's round trip as ENet measures it, in milliseconds.
    uint32_t RoundTrip() const;
    // Packets from machines other than the partner (turned away, never read).
    long strangers = 0;
    // Candidates turned away to make room for new ones.
    long crowdedOut = 0;
    // Datagrams dropped unheard from shunned addresses.
    long unheard = 0;

  private:
    Link() = default;
    static int Intercept(_ENetHost* host, struct _ENetEvent* event);
    _ENetPeer* Candidate(uint32_t id) const;
    void MakeRoom();

    _ENetHost* host_ = nullptr;
    _ENetPeer* peer_ = nullptr;
    bool connected_ = false;
    bool hosting_ = false;
    uint32_t nextCandidate_ = 1;
    // Candidates by id, with when they connected, oldest first.
    std::map<uint32_t, std::pair<_ENetPeer*, std::chrono::steady_clock::time_point>> candidates_;
    std::map<uint32_t, _ENetPeer*> watchers_;
    std::map<uint32_t, std::chrono::steady_clock::time_point> shunned_;
};

}  // namespace net
