#pragma once

#include "AsyncSocket.h"
#include "Clock.h"
#include "Retransmit.h"
#include "Tftp.h"
#include "TransferView.h"
#include "Window.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <vector>

// The client's transfer object: one socket bound to the chosen local address
// and one transfer, sending a local file (write request) or fetching a remote
// one (read request). Its last packet (request, DATA or ACK) goes out again
// when the server has not answered it within a retransmission interval that
// follows the link; a transfer ends with the last block, an error from
// either side, the user's Abort, or a silence longer than the time-out.
class CTransferSocket : public CAsyncSocket {
public:
    // Progress is put into words and shown at most this often, and with the
    // last block: a status line per block would cost more than the block.
    static constexpr unsigned long long kReportEveryMs = 100;
    // Datagrams taken at most in one receive notification.
    static constexpr int kBurst = 64;

    // The owner is told of the object's life and asked for the settings; the
    // view, when there is one, is posted what it shows.
    explicit CTransferSocket(CTransferOwner& owner, CTransferView* pView = nullptr);
    ~CTransferSocket() override;

    int CreateTransferSocket();
    int StartSend(const QString& strRemote, const QString& strLocal, const QString& strHost,
                  int nPort, int bOctet, const QString& strDropped);
    int StartFetch(const QString& strRemote, const QString& strLocal, const QString& strHost,
                   int nPort, int bOctet);
    // Lays out a read (1) or write (2) request in pBuffer, which must hold
    // RequestLength bytes; returns its length.
    int BuildRequest(int nOpcode, const QByteArray& name, uint8_t* pBuffer, const char* pszMode);
    int RequestLength(const QByteArray& name, const char* pszMode) const;
    // Makes the packet and socket buffers large enough for m_nBlockSize,
    // before the request: when the socket grants less, the block size is
    // lowered to fit (and the view told), as that is what gets offered.
    int SetupBuffers(int bSending);

    void OnReceive(int nErrorCode) override;
    void OnSend(int nErrorCode) override;
    void OnDataPacket();
    void OnAckPacket();
    // Ends the transfer, first telling the server why unless quietly.
    void EndTransfer(tftp::EndReason reason);
    void CheckTimeout();
    // Seconds of silence after which the transfer is given up: six times the
    // time-out when the server was sent it, else the time-out itself.
    long GiveUpSeconds() const;
    // When the packet in flight goes out again unanswered (tick count); 0
    // while nothing is in flight.
    unsigned long long RetransmissionDue() const { return m_retransmit.DueAt(); }
    // The user's Abort: ends an active transfer without a word to the server.
    void Abort();

    int m_bSendTimeout = 0;
    int m_nBlockSize = 512;
    // Blocks per acknowledgement: asked for when above 1, then what the
    // server granted (1 when its answer leaves the option out).
    int m_nWindowSize = 1;
    QString m_strLocalAddress;
    CTransferView* m_pView = nullptr;
    sockaddr_in m_peerAddr{};
    int m_bActive = 0;
    int m_bSending = 0;
    int m_bLastBlock = 0;
    int m_bDroppedPath = 0;
    std::vector<uint8_t> m_pBuffer;
    QString m_szStatus;
    FILE* m_pFile = nullptr;
    int m_nBlock = 0;
    int m_nReceived = 0;
    uint32_t m_nTotalSize = 0;
    uint32_t m_nBytes = 0;
    uint32_t m_nBlocks = 0;
    CTime m_tLastActivity;
    int m_nTimeout = 0;
    // Directory of a dropped or opened file, ending in '/' (m_bDroppedPath 1).
    QString m_strDroppedDir;

private:
    bool ResizeBuffer(int nSize);
    // Grows the buffers for m_nBlockSize; the block size the socket buffer
    // allows, or 0 after a failure the user was told of.
    int PrepareBuffers(int bSending);
    // Buffers for a block size agreed with the server, which cannot be
    // lowered any more: when the socket grants less, the options failed and
    // the transfer ends (false), as it does after any other failure.
    bool SetupAgreedBuffers();
    int Message(const QString& strText, unsigned nType = 0);
    void ShowStatus(const QString& strText);
    void PostProgress(ProgressKind kind, uint32_t nBytes);
    void PostBlockSize();
    // Whether the datagram's sender is the transfer's peer (the first answer
    // from the request's host makes it so); any other sender is told ERROR 5
    // when bAnswerStranger.
    bool AcceptSource(const sockaddr_in& from, bool bAnswerStranger);
    void SendToPeer(int nLength);
    // The last packet sent, kept for a retransmission: the packet buffer
    // takes every datagram received.
    void KeepSent(const uint8_t* pPacket, int nLength);
    void SendLast();
    void SendAck(unsigned nBlock);
    void OnRetransmitDue();
    void AckLastBlockAgain();
    // One datagram, handled; false when nothing more is to be taken now.
    bool TakeDatagram(int nErrorCode, int nFlags);
    void ApplyOptions();
    void OnServerError();
    bool UseDefaultBlockSize();
    void SendNextBlock(unsigned nAcked);
    // The next block read from the file into the kept packet; its length.
    size_t ReadBlock();
    void ReportSent(uint32_t nBytes);
    void WindowAcked(unsigned nAcked);
    void SendWindow();
    void SendBlocks();
    // Makes nBlock the next block to send, read again from the file.
    bool RewindTo(uint64_t nBlock);
    void BlockOutOfTurn(unsigned nNumber);
    int SendRequest(int nLength, const QString& strHost, int nPort);
    // The request in the packet buffer, which is made large enough for it;
    // its length, or 0 when no buffer could be had.
    int LayOutRequest(int nOpcode, const QString& strRemote, int bOctet);

    // True when progress is to be shown now: the first time, then once
    // kReportEveryMs has passed since it was last shown.
    bool ReportDue();
    // Puts the open local file behind the transfer's own large buffer.
    void BufferFile();

    CTransferOwner& m_owner;
    int m_nAskedBlockSize = 512;   // the block size offered in the request
    int m_nAskedWindow = 1;        // the window offered in the request
    uint64_t m_nAcked = 0;         // sending: the last block the server confirmed
    tftp::ReceiveWindow m_receive; // fetching: when an ACK is due
    bool m_bReported = false;      // progress has been shown for this transfer
    unsigned long long m_nReportTick = 0;
    std::vector<char> m_fileBuffer; // outlives every file it buffers
    sockaddr_in m_requestAddr{};    // where the request went
    bool m_bPeerKnown = false;      // the server's transfer identifier has been seen
    bool m_bInMessageBox = false;
    bool m_bDallying = false; // a fetch has ended: a repeat of its last block is acknowledged
    std::vector<uint8_t> m_lastSent;
    int m_nLastSent = 0;
    tftp::CRetransmitTimer m_retransmit{[this] { OnRetransmitDue(); }};
};

// Opens a local file with stdio, refusing directories (which Linux would
// open for reading and then read as empty).
FILE* OpenLocalFile(const QString& strPath, const char* pszMode);
