#pragma once

#include "ClientSession.h"
#include "ListenSocket.h"
#include "RecordingCore.h"
#include "TestSupport.h"

#include <QTemporaryDir>

// A server engine on 127.0.0.1 and a free port, serving a temporary folder
// (out/ for reads, in/ for writes), with the view replaced by a recorder.
// Its millisecond clock stands still unless the test moves it on, so the
// sessions' retransmission timers fire only when a test says so; against
// real clients (which wait in real time) it runs on the real clock.
struct ServerFixture {
    enum class Ticks { Test, Real };
    static constexpr unsigned long long kStartTicks = 50000;

    RecordingCore core;
    QTemporaryDir root;
    QString outDir, inDir;
    CListenSocket* pListener = nullptr;
    uint16_t nPort = 0;

    explicit ServerFixture(Ticks ticks = Ticks::Test);
    ~ServerFixture();

    void WriteOut(const QString& name, const QByteArray& bytes) const;
    QByteArray ReadIn(const QString& name) const;
    CClientSession* Session(int nSlot = 1) const { return pListener->m_pSession[nSlot - 1]; }
    // Moves the test clock on to when the slot's session sends its packet in
    // flight again; false when nothing is in flight.
    bool FireRetransmission(int nSlot = 1) const;
};

// One client's side of a transfer, with raw datagrams: the request goes to
// the listening port, everything after it to the session's own port.
struct RawClient {
    UdpPeer peer;
    uint16_t nServerPort;
    uint16_t nSessionPort = 0;

    explicit RawClient(uint16_t nListenPort) : nServerPort(nListenPort) {}

    // Sends the request and returns the first answer (from the session).
    std::optional<QByteArray> Request(const QByteArray& request, int ms = 2000);
    // Sends to the session and returns its next datagram.
    std::optional<QByteArray> Exchange(const QByteArray& datagram, int ms = 2000);
    void Send(const QByteArray& datagram) { peer.SendTo(nSessionPort, datagram); }
    std::optional<QByteArray> Next(int ms = 2000);
};

QByteArray Ack(unsigned nBlock);
QByteArray Data(unsigned nBlock, const QByteArray& bytes);
QByteArray ErrorPacket(unsigned nCode, const char* text);
QByteArray Oack(const QList<QByteArray>& entries);
