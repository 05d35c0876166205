#pragma once

#include <cstdint>

class CAsyncSocket;

// Windowed transfers (RFC 7440): the sender sends up to a window of blocks
// before it waits for one ACK, which confirms every block up to its number.
// Both programs count blocks in wide counters and put the low 16 bits on the
// wire, so windows roll over past block 65535 as lock-step does.
namespace tftp {

// A windowsize option's value as a window, or 0 when it is none (0, above
// 65535, or no number at all).
int WindowSizeValue(unsigned long nValue);

// The block an ACK numbered nWire confirms among the blocks in flight, which
// are at most nWindow blocks ending with nLast; 0 when it confirms none of
// them (a duplicate, or a stray). nAcked is the last block confirmed before.
uint64_t ConfirmedBlock(unsigned nWire, uint64_t nAcked, uint64_t nLast, int nWindow);

// How a DATA block stands to a receiver that holds blocks 1 to nHave in order.
enum class Arrival {
    Next,    // the block awaited
    Earlier, // a block held already (nWide is its number)
    Ahead,   // beyond the one awaited: something between was lost
};
Arrival ClassifyBlock(unsigned nWire, uint64_t nHave, uint64_t* pWide);

// When a windowed receiver acknowledges: the last block of each window and of
// the file; on a block out of turn, the last block it holds in order, once
// until it holds more. A block held already is acknowledged again only when
// it lies within what was acknowledged (the sender missed that ACK); a block
// the sender sent again after our last ACK is on its way with the rest.
class ReceiveWindow {
public:
    void Start(int nWindow) {
        m_nWindow = nWindow < 1 ? 1 : nWindow;
        m_nAckedAt = 0;
        m_bOutOfTurnAcked = false;
    }
    // A block was taken in order: true when an ACK is due now.
    bool Took(uint64_t nHave, bool bLast) {
        m_bOutOfTurnAcked = false;
        return bLast || nHave - m_nAckedAt >= static_cast<uint64_t>(m_nWindow);
    }
    // A block out of turn: true when the last block held goes again now.
    bool AckOutOfTurn(Arrival arrival, uint64_t nWide) const;
    // An ACK for nHave went out; bOutOfTurn when a block out of turn asked for it.
    void Acked(uint64_t nHave, bool bOutOfTurn = false) {
        m_nAckedAt = nHave;
        m_bOutOfTurnAcked = bOutOfTurn;
    }

private:
    int m_nWindow = 1;
    uint64_t m_nAckedAt = 0;
    bool m_bOutOfTurnAcked = false;
};

// Raises a socket buffer (SO_SNDBUF or SO_RCVBUF) to at least nWanted bytes,
// never lowering it; the size in force afterwards, or -1 when the socket
// refused to tell or take it.
int RaiseSocketBuffer(CAsyncSocket& socket, int nOption, int nWanted);
// The largest window, at most nWindow, whose blocks of nBlockSize fit the
// socket buffer: raised for it as far as the system allows. At least 1; 0
// when the socket failed.
int FitWindow(CAsyncSocket& socket, int nOption, int nWindow, int nBlockSize);

} // namespace tftp
