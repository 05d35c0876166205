#pragma once

#include "AsyncSocket.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

// One client being served, in one slot of the listener, talking from a
// socket of its own (whose port is the server's transfer identifier).
class CClientSession : public CAsyncSocket {
public:
    static constexpr int kRequestSize = 100;

    CClientSession();
    ~CClientSession() override;

    // Hand-over from the listener: slot, client address, local address and
    // the request datagram (copied into the start of the packet buffer).
    void Attach(int nSlot, const sockaddr_in& peer, const QString& strLocalAddress,
                const uint8_t* pRequest, int nRequestSize);

    void ParseRequest();
    bool SetBlockSize(bool bSending);

    void OnReceive(int nErrorCode) override;
    void HandleAck();
    void HandleData();
    void SendNextBlock();
    void SendPacket(int nLength);
    void SendError(int nCode);
    bool ResendBlock();

    int m_nTimeout = 0;
    int m_nBlockSize = 512;
    sockaddr_in m_peerAddr{};
    int m_bActive = 1;
    int m_nSlot = 0;
    QString m_strLocalAddress;
    QByteArray m_strPath;
    int m_nOpcode = 0;
    int m_nBlock = 0;
    int m_nReceived = 0;
    FILE* m_pFile = nullptr;
    int m_bNetascii = 0;
    int m_bLastBlock = 0;
    // 64 bits wide so that files of 4 GiB and more are sent whole.
    uint64_t m_nTotal = 0;
    uint64_t m_nSent = 0;
    std::vector<uint8_t> m_pBuffer;
    time_t m_tLastActivity = 0;
    int m_nLastRead = 0;

private:
    bool ResizeBuffer(int nSize);
    void CloseFile();
    void ReportProgress();
    bool IsFromPeer(const sockaddr_in& from) const;

    uint8_t m_abRequest[kRequestSize] = {}; // the request, kept for parsing
    QByteArray m_oack;                      // the OACK while it waits for ACK 0
    bool m_bOackPending = false;
};

// True when a requested file name would leave the configured directory:
// absolute, or holding a ".." component (with '/' or '\' as separator).
bool LeavesDirectory(const QByteArray& name);
