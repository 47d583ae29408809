#pragma once
// UDP through ENet between exactly two machines. The host listens on its port and takes the
// first machine that connects; any further one is told "busy" at once. The joiner connects to
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

// Why the host closed a connection, carried by ENet with the disconnect so that even a program
// that speaks another protocol hears it.
enum CloseCode : uint32_t {
    kClosedPlain = 0,
    kClosedBusy = 0x4B42,     // another player holds the host's slot
    kClosedLate = 0x4B4C,     // no Hello came in time
    kClosedRefused = 0x4B52,  // the Hello did not fit (a Refuse says why)
};

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
    };
    // Waits up to waitMs for one event of the partner (others are handled inside).
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
    // The partner's address as "IP:PORT"; empty when there is none.
    std::string PartnerAddress() const;
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
