#pragma once

#include <QStringList>
#include <functional>
#include <optional>

// The host's own IPv4 addresses as dotted texts: those of the network
// interfaces that are up, in the order the system lists them, except that
// loopback addresses (127/8) come last. Empty optional when the interface
// list cannot be read.
std::optional<QStringList> HostAddressList();

// Test seam: replaces the system's interface list, before loopback is moved
// last (nullopt from the provider stands for a list that cannot be read). An empty function restores the real one.
using HostAddressProvider = std::function<std::optional<QStringList>()>;
void SetHostAddressProvider(HostAddressProvider provider);
