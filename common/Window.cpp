#include "Window.h"

#include "AsyncSocket.h"
#include "Tftp.h"

#include <algorithm>
#include <climits>

namespace tftp {

namespace {
// The kernel charges a datagram its payload, the UDP and IP headers and the
// buffer's own bookkeeping, which for small datagrams is the larger part.
constexpr int kDatagramOverhead = 1024;

// Bytes of socket buffer one datagram of nBlockSize takes in the kernel's
// accounting (payload, headers and its bookkeeping).
int DatagramCost(int nBlockSize) {
    return nBlockSize + kHeaderSize + kDatagramOverhead;
}
} // namespace

int WindowSizeValue(unsigned long nValue) {
    if (nValue < static_cast<unsigned long>(kMinWindowSize) ||
        nValue > static_cast<unsigned long>(kMaxWindowSize))
        return 0;
    return static_cast<int>(nValue);
}

uint64_t ConfirmedBlock(unsigned nWire, uint64_t nAcked, uint64_t nLast, int nWindow) {
    // In flight: at most a window, and nothing confirmed already.
    const uint64_t nWindowStart =
        nLast >= static_cast<uint64_t>(nWindow) ? nLast - static_cast<uint64_t>(nWindow) + 1 : 1;
    const uint64_t nFirst = std::max(nAcked + 1, nWindowStart);
    if (nLast < nFirst)
        return 0;
    const uint64_t nOffset = (nWire - static_cast<unsigned>(nFirst)) & 0xFFFF;
    return nOffset <= nLast - nFirst ? nFirst + nOffset : 0;
}

Arrival ClassifyBlock(unsigned nWire, uint64_t nHave, uint64_t* pWide) {
    const unsigned nAhead = (nWire - static_cast<unsigned>(nHave + 1)) & 0xFFFF;
    if (nAhead == 0) {
        *pWide = nHave + 1;
        return Arrival::Next;
    }
    if (nAhead < 0x8000) {
        *pWide = nHave + 1 + nAhead;
        return Arrival::Ahead;
    }
    const uint64_t nBack = (static_cast<unsigned>(nHave) - nWire) & 0xFFFF;
    *pWide = nBack < nHave ? nHave - nBack : 0;
    return Arrival::Earlier;
}

bool ReceiveWindow::AckOutOfTurn(Arrival arrival, uint64_t nWide) const {
    if (m_bOutOfTurnAcked)
        return false;
    if (arrival == Arrival::Ahead)
        return true;
    return arrival == Arrival::Earlier && nWide != 0 && nWide <= m_nAckedAt;
}

int RaiseSocketBuffer(CAsyncSocket& socket, int nOption, int nWanted) {
    int nInForce = 0;
    socklen_t nLength = sizeof nInForce;
    if (!socket.GetSockOpt(nOption, &nInForce, &nLength))
        return -1;
    if (nInForce >= nWanted)
        return nInForce;
    if (!socket.SetSockOpt(nOption, &nWanted, sizeof nWanted))
        return -1;
    nLength = sizeof nInForce;
    if (!socket.GetSockOpt(nOption, &nInForce, &nLength))
        return -1;
    return nInForce;
}

int FitWindow(CAsyncSocket& socket, int nOption, int nWindow, int nBlockSize) {
    if (nWindow <= 1)
        return 1;
    const int nCost = DatagramCost(nBlockSize);
    const long long nWanted = static_cast<long long>(nCost) * nWindow;
    const int nGranted =
        RaiseSocketBuffer(socket, nOption, static_cast<int>(std::min<long long>(nWanted, INT_MAX)));
    if (nGranted < 0)
        return 0;
    return std::clamp(nGranted / nCost, 1, nWindow);
}

} // namespace tftp
