#pragma once
// Asks the home router to forward the host's UDP port: UPnP IGD first, NAT-PMP when no IGD
// answers. Everything happens on a thread of its own, so a router that answers slowly, or never,
// holds up neither the window nor the game. The mapping is renewed before its lease ends and
// removed when the opener is closed; the lease bounds what a killed program leaves behind.
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace router {

struct Request {
    uint16_t port = 0;             // the host's UDP port, asked for outside as well
    uint32_t leaseSeconds = 3600;  // at most an hour
    uint32_t answerMs = 2000;      // how long each service may take to answer one question
    std::string description = "Kordavel";
};

struct Status {
    enum State { Asking, Open, Failed, Closed } state = Asking;
    std::string method;    // "UPnP" or "NAT-PMP", when open
    std::string external;  // "ADDRESS:PORT" friends outside join at, when open
    std::string local;     // this machine's address on the home network, when known
    std::string why;       // when failed: one line; when open: a warning, or empty
};

class PortOpener {
  public:
    explicit PortOpener(Request request);
    // Closes without waiting: the removal finishes on its thread, which the program waits
    // for as it exits (see FinishClosing).
    ~PortOpener();
    PortOpener(const PortOpener&) = delete;
    PortOpener& operator=(const PortOpener&) = delete;

    Status Current() const;
    // Asks for the mapping to be removed, and returns at once.
    void Close();
    // The worker has finished: the mapping is removed, or was never made.
    bool Finished() const;

    struct Shared;  // with the worker, which may outlive the opener

  private:
    std::shared_ptr<Shared> shared_;
    std::thread worker_;
};

// Waits for every opener closed so far to have removed its mapping; called as the program
// exits, and by a static object's destructor in case it is not.
void FinishClosing();

}  // namespace router
