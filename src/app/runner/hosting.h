#pragma once
// What a hosted game offers beyond the game itself: its invite code, the router's port opened
// for friends outside, and answers to players on the local network who look for games. A game
// on the loopback address is for this machine only: it neither asks the router nor answers.
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "discovery/discovery.h"
#include "router/port_opener.h"

namespace runner {

struct HostingChoice {
    bool openRouter = false;
    bool discovery = false;
};

class Hosting {
  public:
    // Starts asking the router and answering on the network as chosen, for a game already
    // listening at listenHost (empty: every address) on port.
    Hosting(const std::string& listenHost, uint16_t port, HostingChoice choice,
            const discovery::Listing& listing, std::string code);
    ~Hosting();

    const std::string& Code() const { return code_; }
    // A line for the player about the router and the code: changes as the router answers.
    std::string Line() const;
    // The router has answered, or was not asked.
    bool Settled() const;
    // Problems answering on the network (another program holds its port), or empty.
    const std::string& DiscoveryError() const { return discoveryError_; }
    void SeatTaken(bool taken);
    // Questions from players nearby answered, and those ignored (not from this network, not a
    // question, or past the rate); nothing when this game does not answer.
    std::optional<std::pair<long, long>> Answers() const;
    // The game is over: the router is told to close the port (without waiting for it).
    void Close();

  private:
    uint16_t port_;
    std::string code_;
    std::string local_;  // this machine's address on its network
    std::unique_ptr<router::PortOpener> opener_;
    std::unique_ptr<discovery::Answerer> answerer_;
    std::string discoveryError_;
    bool closed_ = false;
};

}  // namespace runner
