#pragma once

#include "AsyncSocket.h"

#include <QByteArray>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

// A network in this process for sockets made while it exists (no real port
// is opened): every datagram sent waits in a queue until the test delivers
// it to the socket bound to its destination port, so a test decides which
// datagrams are lost and when the clock moves.
class HookedNetwork {
public:
    struct Sent {
        uint16_t nFrom = 0;
        uint16_t nTo = 0;
        QByteArray bytes;
        bool bDropped = false;
    };
    // The sockets datagrams may be delivered to, asked anew each time.
    using Sockets = std::function<std::vector<CAsyncSocket*>()>;
    // True: this datagram (the nth sent, from 0) is lost.
    using Loss = std::function<bool(const Sent& sent, int nIndex)>;

    HookedNetwork();
    ~HookedNetwork();
    HookedNetwork(const HookedNetwork&) = delete;
    HookedNetwork& operator=(const HookedNetwork&) = delete;

    void SetSockets(Sockets sockets) { m_sockets = std::move(sockets); }
    void SetLoss(Loss loss) { m_loss = std::move(loss); }
    // True: this datagram is overtaken by the next one sent (out of order).
    void SetLate(Loss late) { m_late = std::move(late); }
    // Hands out what waits, and what that makes the sockets send, until the
    // queue is empty; false when it would not empty within nLimit datagrams.
    bool Deliver(int nLimit = 1000000);

    std::vector<Sent> sent; // everything sent, lost or not, in order

private:
    CAsyncSocket* SocketAt(uint16_t nPort) const;
    void ReleaseHeld();

    Sockets m_sockets;
    Loss m_loss;
    Loss m_late;
    std::deque<std::pair<CAsyncSocket::Datagram, uint16_t>> m_held; // waiting to be overtaken
    std::deque<CAsyncSocket::Datagram> m_queue;                     // peer: the destination
    std::deque<uint16_t> m_sources;
    const CAsyncSocket* m_pReceiver = nullptr;
    CAsyncSocket::Datagram m_pending;
    bool m_bPending = false;
};

// The 16-bit number after the opcode: the block of a DATA or ACK.
inline unsigned WireBlock(const QByteArray& bytes) {
    return bytes.size() >= 4 ? (uint8_t(bytes[2]) << 8) | uint8_t(bytes[3]) : 0u;
}
inline unsigned WireOpcode(const QByteArray& bytes) {
    return bytes.size() >= 2 ? (uint8_t(bytes[0]) << 8) | uint8_t(bytes[1]) : 0u;
}
