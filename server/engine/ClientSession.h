#pragma once

#include "AsyncSocket.h"
#include "Retransmit.h"
#include "Tftp.h"
#include "WharfCore.h"
#include "Window.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <sys/types.h>
#include <vector>

class CClientSession;

// What a session needs of the listener that holds it, by the session's slot.
class CSessionOwner {
public:
    // A retransmission the client asked for by repeating itself; false, with
    // nothing counted, when the slot's budget is spent.
    virtual bool CountRetransmission(int nSlot) = 0;
    // A retransmission on the session's own timer: shown, never refused.
    virtual void ShowRetransmission(int nSlot) = 0;
    // The transfer moved on: its retry budget is whole again.
    virtual void NoteProgress(int nSlot) = 0;
    // Some live session other than pAsking holds this file in a way that
    // excludes the new use.
    virtual bool FileInUse(dev_t device, ino_t inode, bool bForWrite,
                           const CClientSession* pAsking) const = 0;
    // Lets an ended transfer go, and with it its port; false when none has.
    virtual bool FreeEndedTransfer() = 0;
    // ERROR 0 with the text, from the listening port.
    virtual void RefuseRequest(const sockaddr_in& peer, const QByteArray& text) = 0;

protected:
    ~CSessionOwner() = default;
};

// One client being served, in one slot of the listener, talking from a
// socket of its own (whose port is the server's transfer identifier).
class CClientSession : public CAsyncSocket {
public:
    static constexpr int kRequestSize = tftp::kMaxRequestSize;

    // Serves with the settings and reports to the views of core.
    explicit CClientSession(CWharfCore& core);
    ~CClientSession() override;

    // Hand-over from the listener: its owner and slot, the client address,
    // the local address and the request datagram (copied into the start of
    // the packet buffer).
    void Attach(CSessionOwner* pOwner, int nSlot, const sockaddr_in& peer,
                const QString& strLocalAddress, const uint8_t* pRequest, int nRequestSize);

    // Reads the request, settles its options, opens the file and sends the
    // first answer; or ends the session with the error the client is sent.
    void ParseRequest();
    bool SetBlockSize(bool bSending);

    void OnReceive(int nErrorCode) override;
    void HandleAck();
    void HandleData();
    void SendNextBlock();
    void SendPacket(int nLength);
    void SendError(tftp::ErrorCode nCode);
    // Sends the packet the client has not answered yet again: the first
    // answer, the block in flight or the last ACK. False when a block could
    // not be read again, which has ended the session.
    bool Retransmit();
    // When the packet in flight goes out again unanswered (tick count); 0
    // while nothing is in flight.
    unsigned long long RetransmissionDue() const { return m_retransmit.DueAt(); }

    // Where a transfer stands; what a retransmission sends follows from it.
    enum class Phase {
        FirstAnswer,  // the first answer (OACK, ACK 0 or DATA 1) waits for the client's
        Transferring, // the client has answered: blocks and ACKs go back and forth
        Completed,    // the whole file went across; a store acknowledges its last block again
        Failed,       // given up, refused or broken off: nothing more is sent
        Lingering,    // a completed store out of its slot, acknowledging its last block again
    };
    Phase GetPhase() const { return m_ePhase; }
    bool IsActive() const {
        return m_ePhase == Phase::FirstAnswer || m_ePhase == Phase::Transferring;
    }
    // Ends the transfer, once: the file is closed, the timer stopped and the
    // owner told how it went (kTransferComplete or what went wrong).
    void End(const QString& strResult);

    // The client's address and port are the ones this session serves.
    bool IsFromPeer(const sockaddr_in& from) const;
    // The request this session was made for, byte for byte.
    bool IsSameRequest(const uint8_t* pRequest) const;
    // Still waiting for the client to answer the first packet sent (OACK,
    // ACK 0 or DATA 1), so a repeated request means that packet was lost.
    bool AwaitsFirstAnswer() const { return m_ePhase == Phase::FirstAnswer; }
    // The open file is this device and inode, held by a live session.
    bool HoldsFile(dev_t device, ino_t inode) const;
    // A store that ended with its last block; out of its slot it only
    // acknowledges that block again.
    bool IsCompletedStore() const {
        return m_nOpcode == tftp::OP_WRQ && m_ePhase == Phase::Completed;
    }
    void Linger() { m_ePhase = Phase::Lingering; }
    // Sessions that ended earlier have a lower number; 0 while running.
    uint64_t EndOrder() const { return m_nEndOrder; }
    // When the request came (tick count), and whether the client has sent
    // nothing to this session since: a requester that never answers.
    unsigned long long RequestTick() const { return m_nRequestTick; }
    bool SilentSinceRequest() const { return !m_bClientSpoke; }
    // Seconds of silence from the client after which the transfer is given
    // up: six times its own time-out when it sent one, else the setting.
    long GiveUpSeconds(long nSetting) const { return m_nTimeout != 0 ? 6L * m_nTimeout : nSetting; }
    // Tells the server's owner how the transfer ended, once: at its end, or
    // when its slot is taken back without one.
    void ReportEnd(const QString& strResult);
    static constexpr const char* kRereadFailed = "the file could not be read again";
    static constexpr const char* kClientSilent = "the client stopped answering";
    static constexpr int kShownErrorText = 200;

    CWharfCore& m_core;
    int m_nTimeout = 0;
    int m_nBlockSize = 512;
    // Blocks per ACK, as granted (1: lock-step, the option not granted).
    int m_nWindow = 1;
    sockaddr_in m_peerAddr{};
    int m_nSlot = 0;
    QString m_strLocalAddress;
    QByteArray m_strPath;
    int m_nOpcode = 0;
    // A read: the next block to send. A store: the blocks stored.
    int m_nBlock = 0;
    int m_nReceived = 0;
    FILE* m_pFile = nullptr;
    int m_bNetascii = 0;
    // 64 bits wide so that files of 4 GiB and more are sent whole.
    uint64_t m_nTotal = 0;
    uint64_t m_nSent = 0;
    std::vector<uint8_t> m_pBuffer;
    time_t m_tLastActivity = 0;

private:
    // What the request names, read before its options.
    struct RequestedFile {
        QByteArray name;
        QByteArray directory;
        bool bForced = false;
        int nOpenMode = 0;
        int nOptions = 0; // where the options start in the request
    };
    // The options the first answer acknowledges.
    struct Granted {
        bool bTsize = false;
        bool bTimeout = false;
        bool bBlksize = false;
        bool bWindow = false;
        bool Any() const { return bTsize || bTimeout || bBlksize || bWindow; }
    };
    bool OpenSocket();
    // A socket on a free port of the range; false with EADDRINUSE when every
    // port of it is taken.
    bool CreateInRange(const CWharfCore::PortRange& range, const char* pszAddress);
    void RefuseForPorts(const CWharfCore::PortRange& range);
    std::optional<RequestedFile> ReadRequest();
    bool ChooseOptions(int nPos, Granted& granted);
    bool OpenRequestedFile(const RequestedFile& file);
    void ReportStart();
    int BuildOack(const Granted& granted, bool bWithTsize);
    void SendFirstAnswer(const Granted& granted);
    void SendWindow();
    void SendBlocks();
    bool WindowHasRoom() const;
    int ReadBlock(uint8_t* p);
    bool RewindTo(uint64_t nBlock);
    void BlockOutOfTurn(tftp::Arrival arrival, uint64_t nWide);
    bool ResizeBuffer(int nSize);
    void CloseFile();
    // An ERROR from the client, in words for the log.
    QString PeerErrorText() const;
    void ReportProgress();
    std::optional<tftp::ErrorCode> OpenLocalFile(bool bRead, const QByteArray& directory,
                                                 bool bExempt, int nOpenMode);
    void SendAck();
    // The client answered the packet in flight: the round trip is sampled,
    // the retry budget restored.
    void Answered();
    void ResendWhenLost();
    void AckAgain();
    bool ResendWindow();
    void SendFirstAnswer(int nLength);
    void OnRetransmitDue();

    CSessionOwner* m_pOwner = nullptr;
    uint8_t m_abRequest[kRequestSize] = {}; // the request, kept for parsing
    QByteArray m_firstAnswer;               // an OACK or ACK 0, kept until the client answers it
    Phase m_ePhase = Phase::FirstAnswer;
    bool m_bEndReported = false;
    uint64_t m_nEndOrder = 0;
    unsigned long long m_nRequestTick = 0;
    bool m_bClientSpoke = false;
    uint64_t m_nAckedBytes = 0; // of a read: what the client has confirmed
    uint64_t m_nAckedBlocks = 0;
    bool m_bFinalSent = false; // of a read: the short block that ends the file is out
    uint64_t m_nFinalBlock = 0;
    tftp::ReceiveWindow m_receive; // of a store: when an ACK is due
    static constexpr int kSendBatch = 32;
    std::vector<uint8_t> m_batch; // a read's window, built for one send
    tftp::CRetransmitTimer m_retransmit{[this] { OnRetransmitDue(); }};
    dev_t m_device = 0; // identity of the open file
    ino_t m_inode = 0;
};

// A text field of a request buffer (kRequestSize long) from nPos: up to its
// NUL or the end of the buffer; nPos moves past the NUL.
QByteArray RequestField(const uint8_t* pRequest, int& nPos);

// True when a requested file name would leave the configured directory:
// absolute, or holding a ".." component (with '/' or '\' as separator).
bool LeavesDirectory(const QByteArray& name);

// A requested name as a place in the folder: boot loaders send names as
// their firmware sees them, GRUB with a leading '/', Windows boot files with
// '\' between folders.
QByteArray FolderName(QByteArray name);
