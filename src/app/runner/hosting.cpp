#include "app/runner/hosting.h"

#include "net/local_network.h"

namespace runner {

Hosting::Hosting(const std::string& listenHost, uint16_t port, HostingChoice choice,
                 const discovery::Listing& listing, std::string code)
    : port_(port), code_(std::move(code)) {
    bool isAddress = false;
    const uint32_t at = listenHost.empty() ? 0 : net::ParseDottedQuad(listenHost, isAddress);
    const bool thisMachineOnly = listenHost == "localhost" || (isAddress && net::IsLoopback(at));
    if (thisMachineOnly) {
        closed_ = true;  // nothing to tell: only this machine can join
        return;
    }
    local_ = isAddress ? listenHost : net::PrimaryAddress(net::LocalSubnets());
    if (choice.openRouter) {
        router::Request request;
        request.port = port;
        opener_ = std::make_unique<router::PortOpener>(request);
    }
    if (choice.discovery) {
        discovery::Listing l = listing;
        l.port = port;
        l.address = isAddress ? at : 0;
        answerer_ = discovery::Answerer::Start(l, discoveryError_);
    }
}

Hosting::~Hosting() = default;

std::string Hosting::Line() const {
    if (closed_) return {};
    const std::string port = std::to_string(port_);
    const std::string local =
        local_.empty() ? "" : "Players on your network join at " + local_ + ":" + port + "; ";
    if (!opener_)
        return local + (local.empty() ? "From" : "from") + " outside, they need UDP port " + port +
               " forwarded to this computer and the code " + code_ + ".";
    const router::Status status = opener_->Current();
    switch (status.state) {
        case router::Status::Asking:
            return "Asking the router to open port " + port + "…";
        case router::Status::Open:
            return "Friends join at " + status.external + " with the code " + code_ +
                   " (the router opened it by " + status.method + ")" +
                   (status.why.empty() ? "" : "; but " + status.why) + ".";
        case router::Status::Failed:
            return "The router was not opened: " + status.why + ". " + local +
                   (local.empty() ? "From" : "from") + " outside, forward UDP port " + port +
                   " to this computer by hand and give the code " + code_ + ".";
        case router::Status::Closed:
            return {};
    }
    return {};
}

bool Hosting::Settled() const {
    return !opener_ || opener_->Current().state != router::Status::Asking;
}

void Hosting::SeatTaken(bool taken) {
    if (answerer_) answerer_->SetSeatFree(!taken);
}

std::optional<std::pair<long, long>> Hosting::Answers() const {
    if (!answerer_) return std::nullopt;
    return std::pair{answerer_->Answered(), answerer_->Ignored()};
}

void Hosting::Close() {
    closed_ = true;
    answerer_.reset();
    opener_.reset();
}

}  // namespace runner
