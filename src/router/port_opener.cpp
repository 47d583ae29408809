#include "router/port_opener.h"

#include <arpa/inet.h>
#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>
#include <natpmp.h>
#include <sys/select.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace router {

using Clock = std::chrono::steady_clock;

struct PortOpener::Shared {
    mutable std::mutex mutex;
    std::condition_variable wake;
    Status status;
    bool closing = false;
    bool finished = false;

    void Set(const Status& s) {
        std::lock_guard lock(mutex);
        status = s;
    }
    bool Closing() {
        std::lock_guard lock(mutex);
        return closing;
    }
    // Sleeps until the time or a Close; true when closed.
    bool SleepUntil(Clock::time_point when) {
        std::unique_lock lock(mutex);
        return wake.wait_until(lock, when, [this] { return closing; });
    }
};

namespace {

// Addresses no friend outside can reach: the router itself sits behind another one.
bool Unreachable(const std::string& address) {
    in_addr a{};
    if (inet_pton(AF_INET, address.c_str(), &a) != 1) return true;
    const uint32_t ip = ntohl(a.s_addr);
    auto in = [ip](uint32_t net, int bits) { return (ip >> (32 - bits)) == (net >> (32 - bits)); };
    return ip == 0 || in(0x0A000000, 8) || in(0xAC100000, 12) || in(0xC0A80000, 16) ||
           in(0x64400000, 10) || in(0x7F000000, 8) || in(0xA9FE0000, 16);
}

std::string Warning(const std::string& external) {
    if (!Unreachable(external)) return {};
    return "the router's outside address " + external +
           " is private: another router, or the provider's, sits in front of it";
}

// UPnP IGD through miniupnpc.
class Upnp {
  public:
    ~Upnp() {
        if (haveUrls_) FreeUPNPUrls(&urls_);
    }

    // Finds the router and maps the port; false with why set.
    bool Open(const Request& r, Status& status, std::string& why) {
        // Two kinds of search, not upnpDiscover's four: each waits its whole time when
        // nobody answers.
        static const char* const kTypes[] = {
            "urn:schemas-upnp-org:device:InternetGatewayDevice:1",
            "urn:schemas-upnp-org:service:WANIPConnection:1", nullptr};
        int error = 0;
        UPNPDev* devices = upnpDiscoverDevices(kTypes, int(r.answerMs / 2), nullptr, nullptr,
                                               UPNP_LOCAL_PORT_ANY, 0, 2, &error, 0);
        if (!devices) {
            why = "no router answered to UPnP";
            return false;
        }
        char lan[64] = {};
        const int found = UPNP_GetValidIGD(devices, &urls_, &data_, lan, sizeof lan);
        freeUPNPDevlist(devices);
        haveUrls_ = found != 0;
        if (found != 1) {
            why = found == 2 ? "the router says it is not connected to the internet"
                             : "no UPnP router answered";
            return false;
        }
        lan_ = lan;
        char external[40] = {};
        if (UPNP_GetExternalIPAddress(urls_.controlURL, data_.first.servicetype, external) != 0 ||
            !external[0]) {
            why = "the router did not tell its outside address";
            return false;
        }
        port_ = std::to_string(r.port);
        lease_ = std::to_string(r.leaseSeconds);
        int result = Add(r);
        // Some routers keep only mappings without a lease; such a one is removed at exit.
        if (result == 725) {
            lease_ = "0";
            result = Add(r);
        }
        // The port is taken outside (by another machine at home): any other will do.
        if (result == 718) {
            char reserved[8] = {};
            result = UPNP_AddAnyPortMapping(
                urls_.controlURL, data_.first.servicetype, port_.c_str(), port_.c_str(),
                lan_.c_str(), r.description.c_str(), "UDP", nullptr, lease_.c_str(), reserved);
            if (result == 0) port_ = reserved;
        }
        if (result != 0) {
            why = "the router refused to open the port (UPnP error " + std::to_string(result) +
                  ": " + (strupnperror(result) ? strupnperror(result) : "unknown") + ")";
            return false;
        }
        status.method = "UPnP";
        status.external = std::string(external) + ":" + port_;
        status.local = lan_;
        status.why = Warning(external);
        return true;
    }

    uint32_t RenewAfterSeconds(const Request& r) const {
        return lease_ == "0" ? 0 : std::max<uint32_t>(r.leaseSeconds / 2, 1);
    }
    bool Renew(const Request& r) { return Add(r) == 0; }
    void Remove() {
        UPNP_DeletePortMapping(urls_.controlURL, data_.first.servicetype, port_.c_str(), "UDP",
                               nullptr);
    }

  private:
    int Add(const Request& r) {
        return UPNP_AddPortMapping(urls_.controlURL, data_.first.servicetype, port_.c_str(),
                                   std::to_string(r.port).c_str(), lan_.c_str(),
                                   r.description.c_str(), "UDP", nullptr, lease_.c_str());
    }

    UPNPUrls urls_{};
    IGDdatas data_{};
    bool haveUrls_ = false;
    std::string lan_, port_, lease_;
};

// NAT-PMP through libnatpmp, whose own retries back off for minutes: each question here has
// its own deadline instead.
class NatPmp {
  public:
    ~NatPmp() {
        if (open_) closenatpmp(&n_);
    }

    bool Open(const Request& r, Status& status, std::string& why) {
        if (initnatpmp(&n_, 0, 0) != 0) {
            why = "there is no default gateway to ask";
            return false;
        }
        open_ = true;
        natpmpresp_t answer{};
        if (sendpublicaddressrequest(&n_) < 0 || !Wait(r.answerMs, answer, why)) return false;
        char external[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &answer.pnu.publicaddress.addr, external, sizeof external);
        if (!Map(r, r.leaseSeconds, why)) return false;
        status.method = "NAT-PMP";
        status.external = std::string(external) + ":" + std::to_string(public_);
        status.why = Warning(external);
        return true;
    }

    uint32_t RenewAfterSeconds() const { return std::max<uint32_t>(lifetime_ / 2, 1); }
    bool Renew(const Request& r) {
        std::string why;
        return Map(r, r.leaseSeconds, why);
    }
    void Remove(const Request& r) {
        std::string why;
        Map(r, 0, why);
    }

  private:
    bool Map(const Request& r, uint32_t lease, std::string& why) {
        natpmpresp_t answer{};
        const uint16_t wanted = public_ ? public_ : r.port;
        if (sendnewportmappingrequest(&n_, NATPMP_PROTOCOL_UDP, r.port, wanted, lease) < 0 ||
            !Wait(r.answerMs, answer, why))
            return false;
        if (lease) {
            public_ = answer.pnu.newportmapping.mappedpublicport;
            lifetime_ = answer.pnu.newportmapping.lifetime;
        }
        return true;
    }

    bool Wait(uint32_t ms, natpmpresp_t& answer, std::string& why) {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        while (true) {
            const int result = readnatpmpresponseorretry(&n_, &answer);
            if (result == 0) return true;
            if (result != NATPMP_TRYAGAIN) {
                why = result == NATPMP_ERR_NOTAUTHORIZED || result == NATPMP_ERR_OUTOFRESOURCES ||
                              result == NATPMP_ERR_NETWORKFAILURE
                          ? "the router refused to open the port (NAT-PMP error " +
                                std::to_string(-result) + ")"
                          : "no router answered to NAT-PMP";
                return false;
            }
            const auto left = until - Clock::now();
            if (left <= Clock::duration::zero()) {
                why = "no router answered to NAT-PMP";
                return false;
            }
            timeval wait{};
            getnatpmprequesttimeout(&n_, &wait);
            const auto leftUs = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
            if (wait.tv_sec * 1000000L + wait.tv_usec > leftUs)
                wait = {long(leftUs / 1000000), long(leftUs % 1000000)};
            fd_set fds;
            FD_ZERO(&fds);
            FD_SET(n_.s, &fds);
            select(n_.s + 1, &fds, nullptr, nullptr, &wait);
        }
    }

    natpmp_t n_{};
    bool open_ = false;
    uint16_t public_ = 0;
    uint32_t lifetime_ = 0;
};

void Work(std::shared_ptr<PortOpener::Shared> shared, Request r);

}  // namespace

PortOpener::PortOpener(Request request) : shared_(std::make_shared<Shared>()) {
    worker_ = std::thread([shared = shared_, request] { Work(shared, request); });
}

namespace {

// Workers still removing their mappings after their openers went.
struct Closing {
    std::mutex mutex;
    std::vector<std::thread> workers;
    ~Closing() { Join(); }
    void Join() {
        std::vector<std::thread> all;
        {
            std::lock_guard lock(mutex);
            all.swap(workers);
        }
        for (std::thread& t : all) t.join();
    }
};

Closing& ClosingWorkers() {
    static Closing closing;
    return closing;
}

}  // namespace

PortOpener::~PortOpener() {
    Close();
    if (!worker_.joinable()) return;
    Closing& closing = ClosingWorkers();
    std::lock_guard lock(closing.mutex);
    closing.workers.push_back(std::move(worker_));
}

void FinishClosing() {
    ClosingWorkers().Join();
}

void PortOpener::Close() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->closing = true;
    }
    shared_->wake.notify_all();
}

Status PortOpener::Current() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->status;
}

bool PortOpener::Finished() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->finished;
}

namespace {

void Work(std::shared_ptr<PortOpener::Shared> shared, Request r) {
    Status status;
    std::string upnpWhy, natpmpWhy;
    Upnp upnp;
    NatPmp natpmp;
    bool viaUpnp = upnp.Open(r, status, upnpWhy);
    bool open = viaUpnp;
    if (!open && !shared->Closing()) open = natpmp.Open(r, status, natpmpWhy);
    if (!open) {
        status.state = Status::Failed;
        // The refusal says most; plain silence from both is said once.
        if (upnpWhy.find("refused") != std::string::npos)
            status.why = upnpWhy;
        else if (natpmpWhy.find("refused") != std::string::npos)
            status.why = natpmpWhy;
        else if (!natpmpWhy.empty() && natpmpWhy.find("gateway") != std::string::npos)
            status.why = natpmpWhy;
        else
            status.why = "no router answered to UPnP or NAT-PMP";
        status.local.clear();
        shared->Set(status);
    } else {
        status.state = Status::Open;
        shared->Set(status);
        while (true) {
            const uint32_t after = viaUpnp ? upnp.RenewAfterSeconds(r) : natpmp.RenewAfterSeconds();
            const auto when =
                after ? Clock::now() + std::chrono::seconds(after) : Clock::time_point::max();
            if (shared->SleepUntil(when)) break;
            const bool renewed = viaUpnp ? upnp.Renew(r) : natpmp.Renew(r);
            if (!renewed) {
                status.state = Status::Failed;
                status.why = "the router stopped forwarding the port";
                shared->Set(status);
                break;
            }
        }
        if (viaUpnp)
            upnp.Remove();
        else
            natpmp.Remove(r);
        status.state = Status::Closed;
        shared->Set(status);
    }
    std::lock_guard lock(shared->mutex);
    shared->finished = true;
}

}  // namespace

}  // namespace router
