#include "discovery/discovery.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "net/local_network.h"

namespace discovery {
namespace {

constexpr uint8_t kMagic[4] = {'K', 'D', 'V', 'F'};
constexpr uint8_t kVersion = 1;
constexpr size_t kMaxName = 64, kMaxBuild = 128;
constexpr size_t kMaxGames = 64;
// How often the interfaces are looked at again: a cable plugged in while a game waits.
constexpr auto kSubnetsEvery = std::chrono::seconds(5);

class Writer {
  public:
    void Bytes(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        out.insert(out.end(), b, b + n);
    }
    void U(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) out.push_back(uint8_t(v >> (8 * i)));
    }
    void Text(const std::string& s, size_t max) {
        const size_t n = std::min(s.size(), max);
        out.push_back(uint8_t(n));
        Bytes(s.data(), n);
    }
    std::vector<uint8_t> out;
};

class Reader {
  public:
    explicit Reader(std::span<const uint8_t> b) : b_(b) {}
    bool U(uint64_t& v, int n) {
        if (at_ + size_t(n) > b_.size()) return false;
        v = 0;
        for (int i = 0; i < n; ++i) v |= uint64_t(b_[at_ + size_t(i)]) << (8 * i);
        at_ += size_t(n);
        return true;
    }
    bool Text(std::string& s, size_t max) {
        uint64_t n = 0;
        if (!U(n, 1) || n > max || at_ + n > b_.size()) return false;
        s.assign(b_.begin() + long(at_), b_.begin() + long(at_ + n));
        at_ += n;
        return true;
    }
    bool End() const { return at_ == b_.size(); }

  private:
    std::span<const uint8_t> b_;
    size_t at_ = 0;
};

bool Header(std::span<const uint8_t> bytes, uint8_t kind) {
    return bytes.size() >= 6 && std::equal(kMagic, kMagic + 4, bytes.begin()) &&
           bytes[4] == kVersion && bytes[5] == kind;
}

void NonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// A socket for the discovery port that other games on this machine may share: a broadcast
// reaches every one of them.
int Bound(int family, uint16_t port) {
    const int fd = socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
    int ok = -1;
    if (family == AF_INET) {
        setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        setsockopt(fd, IPPROTO_IPV6, IPV6_RECVPKTINFO, &one, sizeof one);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        a.sin6_addr = in6addr_any;
        ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    if (ok != 0) {
        close(fd);
        return -1;
    }
    NonBlocking(fd);
    return fd;
}

// The IPv4 address of the interface on whose network ip is, or 0.
uint32_t AddressFacing(uint32_t ip, int interfaceIndex, const std::vector<net::Subnet>& subnets) {
    for (const net::Subnet& s : subnets)
        if (s.interfaceIndex == interfaceIndex && s.mask &&
            (net::IsLoopback(ip) || (ip & s.mask) == (s.address & s.mask)))
            return s.address;
    return 0;
}

// The first IPv4 address of an interface, or 0.
uint32_t AddressOf(int interfaceIndex, const std::vector<net::Subnet>& subnets) {
    for (const net::Subnet& s : subnets)
        if (s.interfaceIndex == interfaceIndex) return s.address;
    return 0;
}

}  // namespace

std::vector<uint8_t> EncodeQuestion() {
    Writer w;
    w.Bytes(kMagic, 4);
    w.U(kVersion, 1);
    w.U('Q', 1);
    return w.out;
}

bool IsQuestion(std::span<const uint8_t> bytes) {
    return bytes.size() == 6 && Header(bytes, 'Q');
}

std::vector<uint8_t> EncodeAnswer(const Listing& l) {
    Writer w;
    w.Bytes(kMagic, 4);
    w.U(kVersion, 1);
    w.U('A', 1);
    w.U(l.protocol, 4);
    w.U(l.port, 2);
    w.U(l.address, 4);
    w.U(l.mode, 1);
    w.U(uint32_t(l.stage), 4);
    w.U(l.seatFree ? 1 : 0, 1);
    w.U(l.identity.graphics.size, 8);
    w.U(l.identity.graphics.hash, 8);
    w.U(l.identity.font.size, 8);
    w.U(l.identity.font.hash, 8);
    w.Text(l.name, kMaxName);
    w.Text(l.identity.build, kMaxBuild);
    return w.out;
}

std::optional<Listing> DecodeAnswer(std::span<const uint8_t> bytes) {
    if (!Header(bytes, 'A')) return std::nullopt;
    Reader r(bytes.subspan(6));
    Listing l;
    uint64_t protocol, port, address, mode, stage, seat;
    if (!r.U(protocol, 4) || !r.U(port, 2) || !r.U(address, 4) || !r.U(mode, 1) || !r.U(stage, 4) ||
        !r.U(seat, 1) || !r.U(l.identity.graphics.size, 8) || !r.U(l.identity.graphics.hash, 8) ||
        !r.U(l.identity.font.size, 8) || !r.U(l.identity.font.hash, 8) ||
        !r.Text(l.name, kMaxName) || !r.Text(l.identity.build, kMaxBuild) || !r.End())
        return std::nullopt;
    if (port == 0 || seat > 1 || (mode != 2 && mode != 3) || int32_t(stage) < 1)
        return std::nullopt;
    l.protocol = uint32_t(protocol);
    l.port = uint16_t(port);
    l.address = uint32_t(address);
    l.mode = uint8_t(mode);
    l.stage = int32_t(stage);
    l.seatFree = seat == 1;
    return l;
}

bool RateLimit::Take(std::chrono::steady_clock::time_point now) {
    if (last_)
        tokens_ = std::min<double>(
            burst_, tokens_ + std::chrono::duration<double>(now - *last_).count() * perSecond_);
    last_ = now;
    if (tokens_ < 1) return false;
    tokens_ -= 1;
    return true;
}

std::unique_ptr<Answerer> Answerer::Start(const Listing& listing, std::string& error,
                                          uint16_t port) {
    std::unique_ptr<Answerer> a(new Answerer);
    a->listing_ = listing;
    a->seatFree_ = listing.seatFree;
    a->v4_ = Bound(AF_INET, port);
    a->v6_ = Bound(AF_INET6, port);  // none where the machine has no IPv6
    if (a->v4_ < 0) {
        error = "cannot answer on the local network (UDP port " + std::to_string(port) + ": " +
                std::strerror(errno) + ")";
        return nullptr;
    }
    if (pipe2(a->stop_, O_CLOEXEC) != 0) {
        error = "cannot answer on the local network";
        return nullptr;
    }
    a->thread_ = std::thread([p = a.get()] { p->Run(); });
    return a;
}

Answerer::~Answerer() {
    if (thread_.joinable()) {
        const char b = 0;
        if (write(stop_[1], &b, 1) < 0) {
        }
        thread_.join();
    }
    for (int fd : {v4_, v6_, stop_[0], stop_[1]})
        if (fd >= 0) close(fd);
}

void Answerer::Run() {
    RateLimit limit(kAnswerBurst, kAnswersPerSecond);
    std::vector<net::Subnet> subnets = net::LocalSubnets();
    auto subnetsAt = std::chrono::steady_clock::now();
    uint8_t buffer[512];
    alignas(cmsghdr) uint8_t control[256];
    while (true) {
        pollfd fds[3] = {{stop_[0], POLLIN, 0}, {v4_, POLLIN, 0}, {v6_, POLLIN, 0}};
        if (poll(fds, v6_ >= 0 ? 3 : 2, -1) < 0 && errno != EINTR) return;
        if (fds[0].revents) return;
        for (int which = 1; which <= 2; ++which) {
            const int fd = which == 1 ? v4_ : v6_;
            if (fd < 0 || !(fds[which].revents & POLLIN)) continue;
            // A bounded number at a time, so that a stop is never kept waiting by a flood.
            for (int n = 0; n < 256; ++n) {
                sockaddr_storage from{};
                iovec io{buffer, sizeof buffer};
                msghdr m{};
                m.msg_name = &from;
                m.msg_namelen = sizeof from;
                m.msg_iov = &io;
                m.msg_iovlen = 1;
                m.msg_control = control;
                m.msg_controllen = sizeof control;
                const ssize_t got = recvmsg(fd, &m, 0);
                if (got < 0) break;
                const auto now = std::chrono::steady_clock::now();
                if (now - subnetsAt > kSubnetsEvery) {
                    subnets = net::LocalSubnets();
                    subnetsAt = now;
                }
                int arrivedOn = 0;
                for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
                    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                        arrivedOn = reinterpret_cast<in_pktinfo*>(CMSG_DATA(c))->ipi_ifindex;
                    if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO)
                        arrivedOn = int(reinterpret_cast<in6_pktinfo*>(CMSG_DATA(c))->ipi6_ifindex);
                }
                // Only questions from the network they arrived from: the subnet of that
                // interface, or (IPv6) a link-local sender on that link.
                uint32_t joinAt = 0;
                if (from.ss_family == AF_INET) {
                    const uint32_t ip =
                        ntohl(reinterpret_cast<sockaddr_in*>(&from)->sin_addr.s_addr);
                    if (net::OnInterfaceNetwork(ip, arrivedOn, subnets))
                        joinAt = AddressFacing(ip, arrivedOn, subnets);
                } else if (from.ss_family == AF_INET6) {
                    const in6_addr& ip = reinterpret_cast<sockaddr_in6*>(&from)->sin6_addr;
                    if (IN6_IS_ADDR_LINKLOCAL(&ip)) joinAt = AddressOf(arrivedOn, subnets);
                }
                if (!IsQuestion({buffer, size_t(got)}) || joinAt == 0 || !limit.Take(now)) {
                    ++ignored_;
                    continue;
                }
                Listing l = listing_;
                l.seatFree = seatFree_;
                if (l.address == 0) l.address = joinAt;
                const auto answer = EncodeAnswer(l);
                if (sendto(fd, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr*>(&from),
                           m.msg_namelen) >= 0)
                    ++answered_;
            }
        }
    }
}

std::unique_ptr<Finder> Finder::Open(std::string& error, uint16_t port) {
    std::unique_ptr<Finder> f(new Finder);
    f->port_ = port;
    f->v4_ = Bound(AF_INET, 0);
    f->v6_ = Bound(AF_INET6, 0);
    if (f->v4_ < 0) {
        error = std::string("cannot look for games: ") + std::strerror(errno);
        return nullptr;
    }
    const int one = 1;
    setsockopt(f->v4_, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    return f;
}

Finder::~Finder() {
    if (v4_ >= 0) close(v4_);
    if (v6_ >= 0) close(v6_);
}

void Finder::Ask() {
    const auto question = EncodeQuestion();
    auto send4 = [&](uint32_t ip) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port_);
        a.sin_addr.s_addr = htonl(ip);
        sendto(v4_, question.data(), question.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    };
    // Every interface's own broadcast address; the limited broadcast leaves by the default
    // route only. Games on this machine hear these too.
    std::vector<uint32_t> sent;
    for (const net::Subnet& s : net::LocalSubnets()) {
        if (!s.broadcast || std::find(sent.begin(), sent.end(), s.broadcast) != sent.end())
            continue;
        send4(s.broadcast);
        sent.push_back(s.broadcast);
    }
    send4(INADDR_BROADCAST);
    if (v6_ < 0) return;
    if (struct if_nameindex* names = if_nameindex()) {
        for (struct if_nameindex* n = names; n->if_index; ++n) {
            const unsigned index = n->if_index;
            setsockopt(v6_, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index);
            sockaddr_in6 a{};
            a.sin6_family = AF_INET6;
            a.sin6_port = htons(port_);
            inet_pton(AF_INET6, "ff02::1", &a.sin6_addr);
            a.sin6_scope_id = index;
            sendto(v6_, question.data(), question.size(), 0, reinterpret_cast<sockaddr*>(&a),
                   sizeof a);
        }
        if_freenameindex(names);
    }
}

void Finder::Poll(int waitMs) {
    pollfd fds[2] = {{v4_, POLLIN, 0}, {v6_, POLLIN, 0}};
    poll(fds, v6_ >= 0 ? 2 : 1, waitMs);
    uint8_t buffer[512];
    for (int fd : {v4_, v6_}) {
        if (fd < 0) continue;
        for (int n = 0; n < 256; ++n) {
            sockaddr_storage from{};
            socklen_t length = sizeof from;
            const ssize_t got =
                recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
            if (got < 0) break;
            uint32_t ip = 0;
            if (from.ss_family == AF_INET)
                ip = ntohl(reinterpret_cast<sockaddr_in*>(&from)->sin_addr.s_addr);
            Take({buffer, size_t(got)}, ip);
        }
    }
}

void Finder::Take(std::span<const uint8_t> bytes, uint32_t from) {
    auto listing = DecodeAnswer(bytes);
    if (!listing) return;
    const uint32_t ip = listing->address ? listing->address : from;
    if (ip == 0) return;
    const std::string address = net::DottedQuad(ip) + ":" + std::to_string(listing->port);
    const auto now = std::chrono::steady_clock::now();
    for (Found& f : games_)
        if (f.address == address) {
            f.listing = *listing;
            f.heard = now;
            return;
        }
    if (games_.size() < kMaxGames) games_.push_back({address, *listing, now});
}

void Finder::Forget(std::chrono::milliseconds unheard) {
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(games_, [&](const Found& f) { return now - f.heard > unheard; });
}

std::string Unjoinable(const Listing& l, const net::Identity& mine) {
    const uint8_t what = l.protocol != net::kProtocolVersion ? uint8_t(net::kOtherProtocol)
                                                             : net::Mismatches(l.identity, mine);
    if (!what) return {};
    return net::MismatchText(what, l.identity.build, mine.build, true);
}

std::string Line(const Found& f, const net::Identity& mine) {
    const Listing& l = f.listing;
    std::string line = f.address + "  \"" + l.name + "\"  " +
                       (l.mode == 3 ? "duel" : "two players") + ", stage " +
                       std::to_string(l.stage) + ", seat " + (l.seatFree ? "free" : "taken") +
                       "  " + l.identity.build;
    const std::string why = Unjoinable(l, mine);
    if (!why.empty()) line += "  (cannot join: " + why + ")";
    return line;
}

}  // namespace discovery
