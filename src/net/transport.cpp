#include "net/transport.h"

#include <enet/enet.h>

#include <arpa/inet.h>

#include <charconv>
#include <cstring>
#include <mutex>

namespace net {
namespace {

constexpr size_t kChannels = 2;
// Silence after which ENet gives a partner up: longer than the game's own wait, which is the
// one the players are shown and the one kept.
constexpr uint32_t kPeerTimeoutMs = 40000;
// Free slots kept for machines still to come: below this, the candidate idle longest goes.
constexpr size_t kRoomKept = 8;
// A candidate is heard for this long without a word before ENet gives it up.
constexpr uint32_t kCandidateTimeoutMs = 3000;
// A spectator is given up sooner than the partner: nobody waits for it.
constexpr uint32_t kWatcherTimeoutMs = 5000;

// The links that listen, for the intercept callback, which ENet gives only the host.
std::mutex listeningMutex;
std::map<const ENetHost*, Link*>& Listening() {
    static std::map<const ENetHost*, Link*> links;
    return links;
}

// A machine that is turned away: told why, reliably, and forgotten within two seconds even if
// it never acknowledges.
void TurnAway(ENetPeer* peer, uint32_t why) {
    enet_peer_timeout(peer, 0, 1000, 2000);
    enet_peer_disconnect_later(peer, why);
}

bool EnsureInitialised(std::string& error) {
    static const bool ok = enet_initialize() == 0;
    if (!ok) error = "the network library could not be started";
    return ok;
}

void Configure(ENetHost* host) {
    // A damaged datagram fails the checksum and is dropped before it is acknowledged, so ENet
    // sends it again; nothing damaged ever reaches the game.
    host->checksum = enet_crc32;
}

}  // namespace

std::optional<Address> ParseAddress(const std::string& text, bool hostOptional,
                                    std::string& error) {
    Address a;
    std::string port = text;
    const size_t colon = text.rfind(':');
    if (colon != std::string::npos) {
        a.host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (a.host.empty() || a.host.find(':') != std::string::npos) {
            error = "\"" + text + "\" is not HOST:PORT";
            return std::nullopt;
        }
    } else if (!hostOptional) {
        error = "\"" + text + "\" is not HOST:PORT";
        return std::nullopt;
    }
    unsigned value = 0;
    auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (ec != std::errc() || end != port.data() + port.size() || value < 1 || value > 65535) {
        error = "\"" + port + "\" is not a port number (1 to 65535)";
        return std::nullopt;
    }
    a.port = uint16_t(value);
    return a;
}

Link::~Link() {
    if (peer_) enet_peer_reset(peer_);
    if (host_) {
        std::lock_guard lock(listeningMutex);
        Listening().erase(host_);
    }
    if (host_) enet_host_destroy(host_);
}

int Link::Intercept(ENetHost* host, ENetEvent*) {
    Link* link = nullptr;
    {
        std::lock_guard lock(listeningMutex);
        auto it = Listening().find(host);
        if (it != Listening().end()) link = it->second;
    }
    if (!link || link->shunned_.empty()) return 0;
    const uint32_t ip = ntohl(host->receivedAddress.host);
    if (!link->Shunned(ip, std::chrono::steady_clock::now())) return 0;
    ++link->unheard;
    return 1;  // dropped unread: not even ENet answers
}

void Link::Shun(uint32_t ip, std::chrono::steady_clock::time_point until) {
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(shunned_, [now](const auto& entry) { return entry.second <= now; });
    shunned_[ip] = until;
}

bool Link::Shunned(uint32_t ip, std::chrono::steady_clock::time_point now) const {
    auto it = shunned_.find(ip);
    return it != shunned_.end() && now < it->second;
}

std::unique_ptr<Link> Link::Listen(const Address& at, std::string& error) {
    if (!EnsureInitialised(error)) return nullptr;
    ENetAddress address{};
    address.host = ENET_HOST_ANY;
    address.port = at.port;
    if (!at.host.empty() && enet_address_set_host(&address, at.host.c_str()) != 0) {
        error = "\"" + at.host + "\" is not an address of this machine";
        return nullptr;
    }
    std::unique_ptr<Link> link(new Link);
    link->host_ = enet_host_create(&address, kPeerSlots, kChannels, 0, 0);
    if (!link->host_) {
        error = "cannot listen on port " + std::to_string(at.port) + " (is it in use?)";
        return nullptr;
    }
    Configure(link->host_);
    link->host_->intercept = &Link::Intercept;
    {
        std::lock_guard lock(listeningMutex);
        Listening()[link->host_] = link.get();
    }
    link->hosting_ = true;
    return link;
}

std::unique_ptr<Link> Link::Connect(const Address& to, std::string& error) {
    if (!EnsureInitialised(error)) return nullptr;
    ENetAddress address{};
    address.port = to.port;
    if (enet_address_set_host(&address, to.host.c_str()) != 0) {
        error = "cannot find the address \"" + to.host + "\"";
        return nullptr;
    }
    std::unique_ptr<Link> link(new Link);
    link->host_ = enet_host_create(nullptr, 1, kChannels, 0, 0);
    if (!link->host_) {
        error = "cannot open a network socket";
        return nullptr;
    }
    Configure(link->host_);
    link->peer_ = enet_host_connect(link->host_, &address, kChannels, 0);
    if (!link->peer_) {
        error = "cannot connect to " + to.host;
        return nullptr;
    }
    enet_peer_timeout(link->peer_, 0, kPeerTimeoutMs, kPeerTimeoutMs);
    return link;
}

std::string Link::PartnerAddress() const {
    if (!peer_) return {};
    char ip[64] = {};
    if (enet_address_get_host_ip(&peer_->address, ip, sizeof ip) != 0) return {};
    return std::string(ip) + ":" + std::to_string(peer_->address.port);
}

ENetPeer* Link::Candidate(uint32_t id) const {
    auto it = candidates_.find(id);
    if (it != candidates_.end()) return it->second.first;
    auto w = watchers_.find(id);
    return w == watchers_.end() ? nullptr : w->second;
}

// Strangers knocking fast must not fill the table: the candidate idle longest goes first, so a
// real player who just connected keeps its place; then machines already turned away that are
// still saying goodbye.
void Link::MakeRoom() {
    auto free = [this] {
        size_t n = 0;
        for (ENetPeer* p = host_->peers; p < host_->peers + host_->peerCount; ++p)
            if (p->state == ENET_PEER_STATE_DISCONNECTED) ++n;
        return n;
    };
    while (free() < kRoomKept) {
        if (!candidates_.empty()) {
            ENetPeer* oldest = candidates_.begin()->second.first;
            candidates_.erase(candidates_.begin());
            ++crowdedOut;
            enet_peer_disconnect_now(oldest, kClosedLate);
            continue;
        }
        ENetPeer* leaving = nullptr;
        for (ENetPeer* p = host_->peers; p < host_->peers + host_->peerCount && !leaving; ++p)
            if (p != peer_ && p->state != ENET_PEER_STATE_DISCONNECTED &&
                p->state != ENET_PEER_STATE_CONNECTED)
                leaving = p;
        if (!leaving) return;
        enet_peer_reset(leaving);
    }
}

Link::Event Link::Service(uint32_t waitMs) {
    Event out;
    ENetEvent e;
    // Each call handles a bounded number of ENet events; the first of the partner or of a
    // candidate ends it.
    for (int handled = 0; handled < 64; ++handled) {
        const int got = enet_host_service(host_, &e, handled == 0 ? waitMs : 0);
        if (got <= 0) return out;
        const uint32_t id = uint32_t(reinterpret_cast<uintptr_t>(e.peer->data));
        const bool candidate = hosting_ && e.peer != peer_ && Candidate(id) == e.peer;
        switch (e.type) {
            case ENET_EVENT_TYPE_CONNECT:
                if (!hosting_) {
                    peer_ = e.peer;
                    connected_ = true;
                    enet_peer_timeout(peer_, 0, kPeerTimeoutMs, kPeerTimeoutMs);
                    out.kind = Event::Connected;
                    return out;
                }
                // Machines are heard even while a partner plays: a spectator may come, or the
                // one that dropped out may come back on a new connection before its old one is
                // given up; the door decides.
                MakeRoom();
                out.candidate = nextCandidate_++;
                if (nextCandidate_ == 0) nextCandidate_ = 1;
                e.peer->data = reinterpret_cast<void*>(uintptr_t(out.candidate));
                candidates_[out.candidate] = {e.peer, std::chrono::steady_clock::now()};
                enet_peer_timeout(e.peer, 0, kCandidateTimeoutMs, kCandidateTimeoutMs);
                out.kind = Event::Connected;
                return out;
            case ENET_EVENT_TYPE_RECEIVE:
                if (e.peer != peer_ && !candidate) {
                    ++strangers;
                    enet_packet_destroy(e.packet);
                    continue;
                }
                out.kind = Event::Received;
                out.candidate = candidate ? id : 0;
                out.watcher = candidate && watchers_.contains(id);
                out.bytes.assign(e.packet->data, e.packet->data + e.packet->dataLength);
                enet_packet_destroy(e.packet);
                return out;
            case ENET_EVENT_TYPE_DISCONNECT:
                if (candidate) {
                    out.watcher = watchers_.erase(id) > 0;
                    candidates_.erase(id);
                    e.peer->data = nullptr;
                    out.kind = Event::Disconnected;
                    out.candidate = id;
                    out.code = e.data;
                    return out;
                }
                if (e.peer != peer_) continue;
                peer_ = nullptr;
                connected_ = false;
                out.kind = Event::Disconnected;
                out.code = e.data;
                return out;
            case ENET_EVENT_TYPE_NONE:
                return out;
        }
    }
    return out;
}

void Link::Admit(uint32_t id) {
    ENetPeer* peer = Candidate(id);
    if (!peer || peer_) return;
    candidates_.erase(id);
    peer->data = nullptr;
    peer_ = peer;
    connected_ = true;
    enet_peer_timeout(peer_, 0, kPeerTimeoutMs, kPeerTimeoutMs);
    // The seat is taken: whoever else is knocking hears so at once.
    for (auto& [other, entry] : candidates_) {
        entry.first->data = nullptr;
        TurnAway(entry.first, kClosedBusy);
    }
    candidates_.clear();
}

void Link::Keep(uint32_t id) {
    auto it = candidates_.find(id);
    if (it == candidates_.end()) return;
    ENetPeer* peer = it->second.first;
    candidates_.erase(it);
    watchers_[id] = peer;
    enet_peer_timeout(peer, 0, kWatcherTimeoutMs, kWatcherTimeoutMs);
}

void Link::Replace(uint32_t id) {
    if (peer_) enet_peer_reset(peer_);  // gone silent: it would not hear a goodbye
    peer_ = nullptr;
    connected_ = false;
    Admit(id);
}

bool Link::Dismiss(uint32_t id, CloseCode why, bool atOnce) {
    ENetPeer* peer = Candidate(id);
    if (!peer) return false;
    candidates_.erase(id);
    watchers_.erase(id);
    peer->data = nullptr;
    if (atOnce)
        enet_peer_disconnect_now(peer, why);
    else
        TurnAway(peer, why);
    return true;
}

void Link::SendTo(uint32_t id, const std::vector<uint8_t>& bytes, bool reliable) {
    ENetPeer* peer = Candidate(id);
    if (!peer) return;
    ENetPacket* packet =
        enet_packet_create(bytes.data(), bytes.size(), reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
    if (packet && enet_peer_send(peer, reliable ? 1 : 0, packet) != 0) enet_packet_destroy(packet);
}

uint32_t Link::CandidateIp(uint32_t id) const {
    ENetPeer* peer = Candidate(id);
    return peer ? ntohl(peer->address.host) : 0;
}

std::string Link::CandidateAddress(uint32_t id) const {
    ENetPeer* peer = Candidate(id);
    if (!peer) return {};
    char ip[64] = {};
    if (enet_address_get_host_ip(&peer->address, ip, sizeof ip) != 0) return {};
    return std::string(ip) + ":" + std::to_string(peer->address.port);
}

void Link::Send(const std::vector<uint8_t>& bytes, bool reliable) {
    if (!Connected()) return;
    ENetPacket* packet =
        enet_packet_create(bytes.data(), bytes.size(), reliable ? ENET_PACKET_FLAG_RELIABLE : 0);
    if (!packet) return;
    if (enet_peer_send(peer_, reliable ? 1 : 0, packet) != 0) enet_packet_destroy(packet);
}

void Link::Flush() {
    enet_host_flush(host_);
}

void Link::Disconnect() {
    if (peer_) enet_peer_disconnect_later(peer_, 0);
    connected_ = false;
}

void Link::DropPartner(CloseCode why) {
    if (peer_) TurnAway(peer_, why);
    peer_ = nullptr;
    connected_ = false;
}

uint32_t Link::RoundTrip() const {
    return peer_ ? peer_->roundTripTime : 0;
}

}  // namespace net
