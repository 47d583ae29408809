#include "net/local_network.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace net {

std::vector<Subnet> LocalSubnets() {
    std::vector<Subnet> subnets;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return subnets;
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_netmask) continue;
        if (!(i->ifa_flags & IFF_UP)) continue;
        Subnet s;
        s.address = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
        s.mask = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr);
        s.interfaceIndex = int(if_nametoindex(i->ifa_name));
        s.name = i->ifa_name;
        if ((i->ifa_flags & IFF_BROADCAST) && i->ifa_broadaddr)
            s.broadcast = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_broadaddr)->sin_addr.s_addr);
        subnets.push_back(s);
    }
    freeifaddrs(list);
    return subnets;
}

bool IsLoopback(uint32_t ip) {
    return (ip >> 24) == 127;
}

bool OnOwnNetwork(uint32_t ip, const std::vector<Subnet>& subnets) {
    if (IsLoopback(ip)) return true;
    for (const Subnet& s : subnets)
        if (s.mask && (ip & s.mask) == (s.address & s.mask)) return true;
    return false;
}

bool OnInterfaceNetwork(uint32_t ip, int interfaceIndex, const std::vector<Subnet>& subnets) {
    if (IsLoopback(ip)) return true;
    for (const Subnet& s : subnets)
        if (s.interfaceIndex == interfaceIndex && s.mask && (ip & s.mask) == (s.address & s.mask))
            return true;
    return false;
}

std::string DottedQuad(uint32_t ip) {
    in_addr a{htonl(ip)};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

uint32_t ParseDottedQuad(const std::string& text, bool& ok) {
    in_addr a{};
    ok = inet_pton(AF_INET, text.c_str(), &a) == 1;
    return ok ? ntohl(a.s_addr) : 0;
}

std::string PrimaryAddress(const std::vector<Subnet>& subnets) {
    for (const Subnet& s : subnets)
        if (!IsLoopback(s.address) && (s.address >> 16) != 0xA9FE) return DottedQuad(s.address);
    return {};
}

}  // namespace net
