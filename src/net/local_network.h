#pragma once
// Which addresses are this machine's own network: players there need no invite code, and only
// they are answered when they look for games.
#include <cstdint>
#include <string>
#include <vector>

namespace net {

// An IPv4 interface address and its netmask, in host byte order.
struct Subnet {
    uint32_t address = 0;
    uint32_t mask = 0;
    int interfaceIndex = 0;
    uint32_t broadcast = 0;  // 0 when the interface has none
    std::string name;
};

// The IPv4 subnets of this machine's interfaces that are up, loopback included.
std::vector<Subnet> LocalSubnets();
// 127.0.0.0/8: another program on this machine.
bool IsLoopback(uint32_t ip);
// On the subnet of one of the interfaces, or this machine itself.
bool OnOwnNetwork(uint32_t ip, const std::vector<Subnet>& subnets);
// On the subnet of the given interface (or loopback, which every machine has).
bool OnInterfaceNetwork(uint32_t ip, int interfaceIndex, const std::vector<Subnet>& subnets);
// Dotted quad of a host-order address, and back (nothing but 0 for what is not one).
std::string DottedQuad(uint32_t ip);
uint32_t ParseDottedQuad(const std::string& text, bool& ok);
// This machine's first address that is neither loopback nor link-local; empty when none.
std::string PrimaryAddress(const std::vector<Subnet>& subnets);

}  // namespace net
