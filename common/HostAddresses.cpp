#include "HostAddresses.h"

#include "AsyncSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

namespace {
HostAddressProvider g_provider;
}

void SetHostAddressProvider(HostAddressProvider provider) {
    g_provider = std::move(provider);
}

namespace {
// The interfaces' addresses in the order the system lists them.
std::optional<QStringList> SystemAddressList() {
    if (g_provider)
        return g_provider();
    ifaddrs* pList = nullptr;
    if (getifaddrs(&pList) != 0)
        return std::nullopt;
    QStringList addresses;
    for (ifaddrs* p = pList; p; p = p->ifa_next) {
        if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET || !(p->ifa_flags & IFF_UP))
            continue;
        QString text = DottedAddress(*reinterpret_cast<const sockaddr_in*>(p->ifa_addr));
        if (!addresses.contains(text))
            addresses << text;
    }
    freeifaddrs(pList);
    return addresses;
}

bool IsLoopback(const QString& strAddress) {
    in_addr address{};
    return ParseHostAddress(strAddress, &address) && (ntohl(address.s_addr) >> 24) == 127;
}
} // namespace

std::optional<QStringList> HostAddressList() {
    std::optional<QStringList> addresses = SystemAddressList();
    // Loopback last: the default pick (the first) must be one that other
    // hosts can reach. The rest keep the system's order, so that a stored
    // position means the same address from one run to the next.
    if (addresses)
        std::stable_partition(addresses->begin(), addresses->end(),
                              [](const QString& s) { return !IsLoopback(s); });
    return addresses;
}
