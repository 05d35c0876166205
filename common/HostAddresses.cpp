#include "HostAddresses.h"

#include "AsyncSocket.h"

#include <ifaddrs.h>
#include <net/if.h>

namespace {
HostAddressProvider g_provider;
}

void SetHostAddressProvider(HostAddressProvider provider) {
    g_provider = std::move(provider);
}

std::optional<QStringList> HostAddressList() {
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
