// A UDP relay for testing network games on one machine: it stands between the joiner and the
// host on 127.0.0.1 and adds a round trip, jitter, loss, damaged datagrams, stray datagrams and
// outages. "netrelay fuzz" is the third machine that sends the host garbage, raw and through
// ENet. Loopback only; every mode stops by itself after its --seconds.
#include <arpa/inet.h>
#include <enet/enet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <queue>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

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

int Relay(const Settings& s) {
    const int client = UdpSocket(s.listenPort);
    const int upstream = UdpSocket(0);
    const sockaddr_in host = Loopback(s.targetPort);
    sockaddr_in joiner{};
    bool haveJoiner = false;
    std::mt19937 rng(s.seed);
    std::uniform_real_distribution<double> unit(0, 1);
    std::priority_queue<Pending> queue;
    long forwarded = 0, lost = 0, damaged = 0, stray = 0, cut = 0;
    const auto start = Clock::now();
    auto joined = start;
    auto nextGarbage = start;
    std::vector<uint8_t> buffer(65536);

    while (Clock::now() - start < std::chrono::duration<double>(s.seconds)) {
        const auto now = Clock::now();
        while (!queue.empty() && queue.top().due <= now) {
            const Pending& p = queue.top();
            if (p.toHost)
                sendto(upstream, p.bytes.data(), p.bytes.size(), 0,
                       reinterpret_cast<const sockaddr*>(&host), sizeof host);
            else if (haveJoiner)
                sendto(client, p.bytes.data(), p.bytes.size(), 0,
                       reinterpret_cast<const sockaddr*>(&joiner), sizeof joiner);
            ++forwarded;
            queue.pop();
        }
        if (s.garbageEveryMs > 0 && now >= nextGarbage) {
            nextGarbage = now + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double, std::milli>(s.garbageEveryMs));
            auto g = Garbage(rng);
            sendto(upstream, g.data(), g.size(), 0, reinterpret_cast<const sockaddr*>(&host),
                   sizeof host);
            if (haveJoiner)
                sendto(client, g.data(), g.size(), 0, reinterpret_cast<const sockaddr*>(&joiner),
                       sizeof joiner);
            stray += 2;
        }
        pollfd fds[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
        if (poll(fds, 2, 1) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & POLLIN)) continue;
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = recvfrom(fds[i].fd, buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n <= 0) continue;
            if (i == 0) {
                // The first machine to send is the joiner; nobody else is relayed.
                if (!haveJoiner) {
                    joiner = from;
                    haveJoiner = true;
                    joined = Clock::now();
                } else if (from.sin_port != joiner.sin_port) {
                    continue;
                }
            }
            // The outage is timed from the joiner's first datagram, so that a slow start on a
            // loaded machine still puts it inside the game rather than the handshake.
            const double t = std::chrono::duration<double>(Clock::now() - joined).count();
            if (haveJoiner && t >= s.outageFromS && t < s.outageToS) {
                ++cut;
                continue;
            }
            if (unit(rng) * 100 < s.lossPercent) {
                ++lost;
                continue;
            }
            Pending p;
            p.toHost = i == 0;
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
    std::printf("relay: forwarded=%ld lost=%ld damaged=%ld stray=%ld cut=%ld\n", forwarded, lost,
                damaged, stray, cut);
    close(client);
    close(upstream);
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
    while (Clock::now() - start < std::chrono::duration<double>(s.seconds)) {
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
    return mode == "relay" ? Relay(s) : Fuzz(s);
}
