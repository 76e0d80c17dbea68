#include "local_address.h"

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
