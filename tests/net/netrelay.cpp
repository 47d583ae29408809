// A UDP relay for testing network games on one machine: it stands between the host and the
// machines that reach it (a joiner, a joiner started again, watchers, strangers), each with a
// port of its own toward the host, on 127.0.0.1, and adds a round trip, jitter, loss, damaged
// datagrams, stray datagrams and outages. "netrelay fuzz" is the third machine that sends the host
// garbage, raw and through ENet. Loopback only; every mode stops by itself after its --seconds.
#include <arpa/inet.h>
#include <enet/enet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <queue>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A test that stops the relay with SIGTERM still gets its figures.
volatile std::sig_atomic_t stopped = 0;

struct Settings {
    int listenPort = 0, targetPort = 0;
    double rttMs = 0, jitterMs = 0, lossPercent = 0, corruptPercent = 0;
    double garbageEveryMs = 0;  // a stray datagram to each side this often (0: none)
    double outageFromS = -1, outageToS = -1;
    double seconds = 60;
    unsigned seed = 1;
};

struct Pending {
    Clock::time_point due;
    bool toHost;
    size_t peer;  // which machine on the client side, by its place in the relay's list
    std::vector<uint8_t> bytes;
    bool operator<(const Pending& o) const { return due > o.due; }  // earliest first
};

sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int UdpSocket(int port) {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = Loopback(port);
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("netrelay: socket");
        std::exit(2);
    }
    return s;
}

std::vector<uint8_t> Garbage(std::mt19937& rng) {
    std::vector<uint8_t> bytes(1 + rng() % 300);
    for (uint8_t& b : bytes) b = uint8_t(rng());
    return bytes;
}

// A machine on the client side (a joiner, a joiner started again, a watcher, a stranger) and
// the socket that speaks for it to the host, as a router's mapping would: the host tells them
// apart by port.
struct Peer {
    sockaddr_in address;
    int upstream;
};

// Enough for a partner, eight watchers and the strangers a test sends; past it, new machines
// are dropped rather than the relay growing without end.
constexpr size_t kMaxPeers = 64;

int Relay(const Settings& s) {
    const int client = UdpSocket(s.listenPort);
    const sockaddr_in host = Loopback(s.targetPort);
    std::vector<Peer> peers;
    std::mt19937 rng(s.seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::priority_queue<Pending> queue;
    long forwarded = 0, lost = 0, damaged = 0, stray = 0, cut = 0, refused = 0;
    const auto start = Clock::now();
    auto joined = start;
    auto nextGarbage = start;
    std::vector<uint8_t> buffer(65536);
    auto send = [](int socket, const std::vector<uint8_t>& bytes, const sockaddr_in& to) {
        sendto(socket, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    };

    while (!stopped && Clock::now() - start < std::chrono::duration<double>(s.seconds)) {
        const auto now = Clock::now();
        while (!queue.empty() && queue.top().due <= now) {
            const Pending& p = queue.top();
            const Peer& peer = peers[p.peer];
            if (p.toHost)
                send(peer.upstream, p.bytes, host);
            else
                send(client, p.bytes, peer.address);
            ++forwarded;
            queue.pop();
        }
        if (s.garbageEveryMs > 0 && now >= nextGarbage) {
            nextGarbage = now + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double, std::milli>(s.garbageEveryMs));
            for (const Peer& peer : peers) {
                send(peer.upstream, Garbage(rng), host);
                send(client, Garbage(rng), peer.address);
                stray += 2;
            }
        }
        std::vector<pollfd> fds{{client, POLLIN, 0}};
        for (const Peer& peer : peers) fds.push_back({peer.upstream, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 1) <= 0) continue;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN)) continue;
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = recvfrom(fds[i].fd, buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n <= 0) continue;
            size_t peer = i - 1;
            if (i == 0) {
                peer = 0;
                while (peer < peers.size() &&
                       (peers[peer].address.sin_port != from.sin_port ||
                        peers[peer].address.sin_addr.s_addr != from.sin_addr.s_addr))
                    ++peer;
                if (peer == peers.size()) {
                    if (peers.size() == kMaxPeers) {
                        ++refused;
                        continue;
                    }
                    if (peers.empty()) joined = Clock::now();
                    peers.push_back({from, UdpSocket(0)});
                }
            }
            // The outage is timed from the first machine's first datagram, so that a slow
            // start on a loaded machine still puts it inside the game rather than the
            // handshake. It cuts every machine, as a host's own line going down would.
            const double t = std::chrono::duration<double>(Clock::now() - joined).count();
            if (t >= s.outageFromS && t < s.outageToS) {
                ++cut;
                continue;
            }
            if (unit(rng) * 100 < s.lossPercent) {
                ++lost;
                continue;
            }
            Pending p;
            p.toHost = i == 0;
            p.peer = peer;
            p.bytes.assign(buffer.begin(), buffer.begin() + n);
            if (unit(rng) * 100 < s.corruptPercent) {
                p.bytes[rng() % p.bytes.size()] ^= uint8_t(1 + rng() % 255);
                ++damaged;
            }
            const double delayMs = s.rttMs / 2 + unit(rng) * s.jitterMs;
            p.due = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double, std::milli>(delayMs));
            queue.push(std::move(p));
        }
    }
    std::printf(
        "relay: peers=%zu forwarded=%ld lost=%ld damaged=%ld stray=%ld cut=%ld refused=%ld\n",
        peers.size(), forwarded, lost, damaged, stray, cut, refused);
    close(client);
    for (const Peer& peer : peers) close(peer.upstream);
    return 0;
}

// The third machine: raw garbage at the port, and a connection through ENet that sends
// garbage as packets (the host must turn it away or ignore it).
int Fuzz(const Settings& s) {
    std::mt19937 rng(s.seed);
    const int raw = UdpSocket(0);
    const sockaddr_in target = Loopback(s.targetPort);
    if (enet_initialize() != 0) return 2;
    ENetHost* me = enet_host_create(nullptr, 1, 2, 0, 0);
    if (!me) return 2;
    me->checksum = enet_crc32;  // speaks ENet as the game does, so its garbage gets through
    ENetAddress address{};
    enet_address_set_host(&address, "127.0.0.1");
    address.port = uint16_t(s.targetPort);
    ENetPeer* peer = nullptr;
    long sentRaw = 0, sentPackets = 0, connects = 0;
    const auto start = Clock::now();
    while (!stopped && Clock::now() - start < std::chrono::duration<double>(s.seconds)) {
        auto g = Garbage(rng);
        sendto(raw, g.data(), g.size(), 0, reinterpret_cast<const sockaddr*>(&target),
               sizeof target);
        ++sentRaw;
        if (!peer) {
            peer = enet_host_connect(me, &address, 2, 0);
            ++connects;
        }
        ENetEvent e;
        while (enet_host_service(me, &e, 2) > 0) {
            if (e.type == ENET_EVENT_TYPE_DISCONNECT) peer = nullptr;
            if (e.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(e.packet);
        }
        if (peer && peer->state == ENET_PEER_STATE_CONNECTED) {
            g = Garbage(rng);
            // Now and then a valid type byte, so the decoder sees more than its first check.
            if (rng() % 2) g[0] = uint8_t(1 + rng() % 8);
            ENetPacket* packet = enet_packet_create(g.data(), g.size(), ENET_PACKET_FLAG_RELIABLE);
            enet_peer_send(peer, uint8_t(rng() % 2), packet);
            ++sentPackets;
        }
    }
    std::printf("fuzz: raw=%ld packets=%ld connects=%ld\n", sentRaw, sentPackets, connects);
    enet_host_destroy(me);
    enet_deinitialize();
    close(raw);
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: netrelay relay LISTEN_PORT TARGET_PORT [--rtt MS] [--jitter MS]\n"
                 "                [--loss PERCENT] [--corrupt PERCENT] [--garbage EVERY_MS]\n"
                 "                [--outage FROM_S TO_S] [--seconds S] [--seed N]\n"
                 "       netrelay fuzz TARGET_PORT [--seconds S] [--seed N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string mode = argv[1];
    Settings s;
    int i = 2;
    if (mode == "relay") {
        if (argc < 4) return Usage();
        s.listenPort = std::atoi(argv[i++]);
        s.targetPort = std::atoi(argv[i++]);
    } else if (mode == "fuzz") {
        s.targetPort = std::atoi(argv[i++]);
    } else {
        return Usage();
    }
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() { return i + 1 < argc ? std::atof(argv[++i]) : 0.0; };
        if (a == "--rtt")
            s.rttMs = next();
        else if (a == "--jitter")
            s.jitterMs = next();
        else if (a == "--loss")
            s.lossPercent = next();
        else if (a == "--corrupt")
            s.corruptPercent = next();
        else if (a == "--garbage")
            s.garbageEveryMs = next();
        else if (a == "--seconds")
            s.seconds = next();
        else if (a == "--seed")
            s.seed = unsigned(next());
        else if (a == "--outage") {
            s.outageFromS = next();
            s.outageToS = next();
        } else
            return Usage();
    }
    if (s.targetPort <= 0 || s.targetPort > 65535 || (mode == "relay" && s.listenPort <= 0))
        return Usage();
    std::signal(SIGTERM, [](int) { stopped = 1; });
    return mode == "relay" ? Relay(s) : Fuzz(s);
}
