#include "LocalAddress.h"

#include "AsyncSocket.h"
#include "HostAddresses.h"
#include "MessageBox.h"

#include <arpa/inet.h>

namespace {
LocalAddressDialogs g_dialogs;

std::optional<QString> ManualEntry(AddressRole role) {
    std::optional<QString> typed;
    if (g_dialogs.manualEntry)
        typed = g_dialogs.manualEntry(role);
    if (!typed)
        return std::nullopt;
    // As inet_addr reads it: anything unreadable becomes 255.255.255.255,
    // and binding to that fails later with its own message.
    in_addr address{};
    if (!ParseHostAddress(typed->trimmed(), &address))
        address.s_addr = INADDR_NONE;
    return QString::fromLatin1(inet_ntoa(address));
}
} // namespace

void SetLocalAddressDialogs(LocalAddressDialogs dialogs) {
    g_dialogs = std::move(dialogs);
}

std::optional<QString> ChooseLocalAddress(int& nStored, AddressRole role) {
    std::optional<QStringList> addresses = HostAddressList();
    if (!addresses) {
        AfxMessageBox("Unable to resolve Local Host name");
        return ManualEntry(role);
    }
    if (addresses->isEmpty()) {
        AfxMessageBox("Unable to resolve Local Host I.P. address");
        return ManualEntry(role);
    }
    const int nCount = static_cast<int>(addresses->size());
    int p = 0;
    if (nCount == 1) {
        nStored = 0;
    } else if (nStored >= 1 && nStored <= nCount) {
        p = nStored - 1;
    } else {
        MultihomedAnswer answer;
        if (g_dialogs.multihomed)
            answer = g_dialogs.multihomed(*addresses, role);
        if (answer.bOk) {
            p = (answer.nSelected >= 0 && answer.nSelected < nCount) ? answer.nSelected : 0;
            if (role == AddressRole::Server)
                nStored = answer.bDontAskAgain ? p + 1 : 255;
        }
    }
    return addresses->at(p).left(100);
}
