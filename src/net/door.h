#pragma once
// Who takes a waiting host's seat: not the first machine to connect but the first to say a
// valid Hello. Every machine that connects is sent a fresh challenge; its Hello must prove the
// invite code with it, unless it comes from this machine or the host's own network. Until then
// it holds nothing: a silent one is turned away after a while (and sooner when strangers crowd
// the table, see transport.h), a captured Hello replayed fails its challenge, and an address
// that gives wrong codes a few times is not heard at all for a while.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "net/invite.h"
#include "net/local_network.h"
#include "net/protocol.h"
#include "net/transport.h"

namespace net {

constexpr uint32_t kKnockMs = 2000;    // a machine that connects says Hello at once, or goes
constexpr int kWrongCodesShunned = 3;  // wrong codes from one address before...
constexpr auto kShunFor = std::chrono::minutes(10);  // ...it is not heard for this long

class Door {
  public:
    using Clock = std::chrono::steady_clock;
    using SendTo = std::function<void(uint32_t candidate, const Message& message)>;

    // code: the game's invite code as shown; subnets: this machine's networks, asked again
    // every few seconds (tests give their own).
    Door(const std::string& code, SendTo sendTo,
         std::function<std::vector<Subnet>()> subnets = LocalSubnets);

    // A machine connected: it is challenged.
    void Connected(uint32_t candidate, uint32_t ip, Clock::time_point now);
    // It went, or was turned away.
    void Gone(uint32_t candidate);
    // The seat is taken: everyone else knocking has been told it is busy.
    void Seated() { knocking_.clear(); }

    struct Verdict {
        enum Kind {
            Wait,     // nothing yet
            Admit,    // the seat is its: the Hello goes on to the handshake
            Dismiss,  // turned away with close
        } kind = Wait;
        CloseCode close = kClosedPlain;
        bool shun = false;  // and its address is not heard for a while
        uint32_t ip = 0;
    };
    // What a candidate said first decides.
    Verdict Received(uint32_t candidate, std::span<const uint8_t> bytes, Clock::time_point now);
    // Candidates that said nothing in time.
    std::vector<uint32_t> Silent(Clock::time_point now);

    long wrongCodes = 0;  // Hellos with a missing or wrong code
    long silent = 0;      // candidates that said nothing in time
    long strangers = 0;   // first messages that were no Hello

  private:
    bool OwnNetwork(uint32_t ip, Clock::time_point now);

    std::string code_;
    SendTo sendTo_;
    std::function<std::vector<Subnet>()> subnetsOf_;
    std::vector<Subnet> subnets_;
    Clock::time_point subnetsAt_{};
    struct Knocking {
        uint32_t ip = 0;
        Nonce nonce{};
        Clock::time_point since;
    };
    std::map<uint32_t, Knocking> knocking_;
    std::map<uint32_t, int> wrong_;  // wrong codes by address, bounded
};

}  // namespace net
