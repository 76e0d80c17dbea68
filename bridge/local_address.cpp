#include "local_address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace {

// Numeric text of the address, or "" when it is the loopback text given.
void take_candidate(const sockaddr *address, socklen_t length, const char *loopback, char *candidate) {
    if (getnameinfo(address, length, candidate, NI_MAXHOST, nullptr, 0, NI_NUMERICHOST) != 0 ||
        std::strcmp(candidate, loopback) == 0)
        candidate[0] = 0;
}

} // namespace

int network_choose_local_address(const ifaddrs *interfaces, char *buffer, size_t size) {
    if (size == 0) return 0;
    buffer[0] = 0;
    char ipv4[NI_MAXHOST] = "", ipv6[NI_MAXHOST] = "";
    for (const ifaddrs *entry = interfaces; entry; entry = entry->ifa_next) {
        if (!entry->ifa_name || std::strcmp(entry->ifa_name, "lo") == 0 || !entry->ifa_addr) continue;
        int family = entry->ifa_addr->sa_family;
        if (family == AF_INET && !ipv4[0]) take_candidate(entry->ifa_addr, sizeof(sockaddr_in), "127.0.0.1", ipv4);
        if (family == AF_INET6 && !ipv6[0]) take_candidate(entry->ifa_addr, sizeof(sockaddr_in6), "::1", ipv6);
    }
    const char *chosen = ipv4[0] ? ipv4 : ipv6;
    size_t length = std::strlen(chosen);
    if (length == 0 || length + 1 > size) return 0;
    std::memcpy(buffer, chosen, length + 1);
    return 1;
}

int network_get_local_address(char *buffer, size_t size) {
    if (size == 0) return 0;
    buffer[0] = 0;
    ifaddrs *interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return 0;
    int found = network_choose_local_address(interfaces, buffer, size);
    freeifaddrs(interfaces);
    return found;
}

int network_is_own_ipv4_address(const char *numeric) {
    in_addr address{};
    in6_addr address6{};
    if (!numeric) return 0;
    if (inet_pton(AF_INET6, numeric, &address6) == 1) {
        if (!IN6_IS_ADDR_V4MAPPED(&address6)) return 0;
        std::memcpy(&address.s_addr, &address6.s6_addr[12], 4);
    } else if (inet_pton(AF_INET, numeric, &address) != 1) {
        return 0;
    }
    uint32_t host_order = ntohl(address.s_addr);
    // 127.0.0.0/8 all reaches this machine, and so does 0.0.0.0 (0.0.0.0/8
    // is kept together with it).
    if ((host_order >> 24) == 127 || (host_order >> 24) == 0) return 1;
    ifaddrs *interfaces = nullptr;
    // Interfaces that cannot be listed might hold it: it counts as this
    // machine's.
    if (getifaddrs(&interfaces) != 0) return 1;
    int own = 0;
    for (const ifaddrs *entry = interfaces; entry && !own; entry = entry->ifa_next)
        own = entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET &&
              ((const sockaddr_in *)entry->ifa_addr)->sin_addr.s_addr == address.s_addr;
    freeifaddrs(interfaces);
    return own;
}
