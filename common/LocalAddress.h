#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Which program asks: the dialogs' texts differ, and only the server
// remembers a pick made in the multihomed dialog.
enum class AddressRole { Server, Client };

// The answer of the multihomed dialog.
struct MultihomedAnswer {
    bool bOk = false;           // closed with OK (anything else counts as cancel)
    int nSelected = -1;         // index of the selected entry, -1 for none
    bool bDontAskAgain = false; // server only: "Do not show this box again"
};

// The two modal dialogs of the address choice, behind a seam: the programs
// install windows, tests install scripts. Without them (or with no screen)
// the multihomed dialog counts as closed without OK and manual entry as
// cancelled.
struct LocalAddressDialogs {
    std::function<MultihomedAnswer(const QStringList& addresses, AddressRole role)> multihomed;
    std::function<std::optional<QString>(AddressRole role)> manualEntry;
};
void SetLocalAddressDialogs(LocalAddressDialogs dialogs);

// Chooses the local IPv4 address to bind to, as dotted text (at most 100
// characters). nStored is the remembered 1-based position in the host's
// address list (server: 255 means ask; client: 0 means ask); it is read and
// updated in place. nullopt when manual entry was cancelled.
std::optional<QString> ChooseLocalAddress(int& nStored, AddressRole role);
