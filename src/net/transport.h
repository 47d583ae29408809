#pragma once
// UDP through ENet between exactly two machines. The host listens on its port and takes the
// first machine that connects; any further one is turned away at once. The joiner connects to
// the one address it was given and listens nowhere else.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct _ENetHost;
struct _ENetPeer;

namespace net {

// "HOST:PORT", "PORT" (any address) or "[::1]:PORT" is not supported: ENet speaks IPv4.
struct Address {
    std::string host;  // empty: every interface (hosting only)
    uint16_t port = 0;
};
std::optional<Address> ParseAddress(const std::string& text, bool hostOptional, std::string& error);

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
    };
    // Waits up to waitMs for one event of the partner (others are handled inside).
    Event Service(uint32_t waitMs);
    bool Connected() const { return peer_ != nullptr && connected_; }
    // Channel 0 unreliable (inputs, pings), channel 1 reliable and in order (all else).
    void Send(const std::vector<uint8_t>& bytes, bool reliable);
    // Sends what is queued now, without waiting for anything.
    void Flush();
    void Disconnect();
    // Host: turns the partner away and takes the next machine that connects instead.
    void DropPartner();
    // The partner's round trip as ENet measures it, in milliseconds.
    uint32_t RoundTrip() const;
    // Packets from machines other than the partner (turned away, never read).
    long strangers = 0;

  private:
    Link() = default;
    _ENetHost* host_ = nullptr;
    _ENetPeer* peer_ = nullptr;
    bool connected_ = false;
    bool hosting_ = false;
};

}  // namespace net
