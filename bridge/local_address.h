// The machine's address on the local network, as numeric text: what a device
// on the same network uses to reach this machine's HTTP server.
#pragma once

#include <cstddef>

struct ifaddrs;

// The first non-loopback IPv4 address of the list, else the first IPv6 one
// other than "::1" (link-local ones with their "%" scope included); the
// interface "lo" is skipped. 1 when one fits in the buffer with its NUL,
// else 0 (the buffer then holds "" when it has room).
int network_choose_local_address(const ifaddrs *interfaces, char *buffer, size_t size);
// The same over the machine's interfaces; 0 when they cannot be listed.
int network_get_local_address(char *buffer, size_t size);
// 1 when the numeric address is an IPv4 address of this machine (loopback,
// unspecified, or an interface's, and any when the interfaces cannot be
// listed), written plainly or as an IPv4-mapped IPv6 address; 0 for any
// other text, plain IPv6 addresses included.
int network_is_own_ipv4_address(const char *numeric);
