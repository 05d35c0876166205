#pragma once

#include "AsyncSocket.h"
#include "ClientSession.h"
#include "Tftp.h"
#include "WharfCore.h"

#include <cstdint>
#include <sys/types.h>
#include <vector>

// The server's socket on the TFTP port and its table of client slots (as
// many as MaxClients). Every datagram that reaches it is a would-be new
// client: it is refused with one of two ready-made ERROR packets, dropped, or
// handed to a new session.
class CListenSocket : public CAsyncSocket, public CSessionOwner {
public:
    static constexpr int kRequestSize = tftp::kMaxRequestSize;
    static constexpr int kMaxRetries = 5;
    static constexpr unsigned long kMinTimeout = 30;
    static constexpr unsigned long kMaxTimeout = 7200;
    // A requester silent this long after its request may lose its slot to a
    // new request when every slot is taken.
    static constexpr unsigned long long kSilentRequesterMs = 2000;

    // Serves with the settings and reports to the views of core.
    explicit CListenSocket(CWharfCore& core);
    ~CListenSocket() override;

    bool StartListening();
    void OnReceive(int nErrorCode) override;
    bool CreateSession();
    // Frees slot i: the view is told, the count lowered, the session deleted.
    void ReleaseSlot(int i);
    // The sweep over the slots: frees ended sessions and gives up those
    // whose client has been silent too long (their own timers send lost
    // packets again).
    void SweepSessions();
    // Transfers still running; ended ones may hold a slot until the sweep
    // or the next request frees it.
    int LiveClients() const;

    // A retransmission that the client asked for by repeating itself counts
    // against slot i's budget, so that a client cannot make the server send
    // without end; false, with nothing counted, when the budget is spent.
    bool CountRetransmission(int i) override;
    // A retransmission on the session's own timer: shown, never refused.
    void ShowRetransmission(int i) override;
    // Slot i's transfer moved on: its retry budget is whole again, so only
    // retransmissions without progress in between give a transfer up.
    void NoteProgress(int i) override;
    // Some live session other than pAsking holds this file in a way that
    // excludes the new use: a store excludes everything, a read excludes
    // stores.
    bool FileInUse(dev_t device, ino_t inode, bool bForWrite,
                   const CClientSession* pAsking) const override;
    // Lets an ended transfer go, and with it its port: one whose slot the
    // sweep has not freed yet, else the oldest finished store; false when
    // there is none.
    bool FreeEndedTransfer() override;
    // Sends ERROR 0 with the text from the listening port, for a request
    // that cannot have a socket of its own.
    void RefuseRequest(const sockaddr_in& peer, const QByteArray& text) override;

    // The refusal packets, as sent.
    static const uint8_t kServiceRefused[27];
    static const uint8_t kNoFreeSlot[21];

    // One entry per slot; at least MaxClients long, longer only while a
    // transfer runs on in a slot above a lowered setting.
    std::vector<CClientSession*> m_pSession;
    std::vector<int> m_nRetries;
    sockaddr_in m_peerAddr{};
    QString m_strLocalAddress;
    int m_nActiveClients = 0;
    uint8_t m_abRequest[kRequestSize] = {};
    // Stores that ended, out of their slots, kept a while to acknowledge
    // their last block again should that ACK have been lost.
    std::vector<CClientSession*> m_lingering;

private:
    void Refuse(const uint8_t* pPacket, int nLength);
    void ReportRefusal(int nLength, const char* pszResult);
    // A request from a client that holds a slot already; true when handled.
    bool HandleRepeatedRequest();
    // The slot a new request goes into, emptied for it; -1 when every slot
    // holds a live transfer whose client is not a silent requester.
    int ChooseSlot();
    int SlotLimit() const;
    // At least one slot per MaxClients; slots above it go only when empty.
    void GrowSlots();
    bool IsSlot(int i) const { return i >= 0 && i < static_cast<int>(m_pSession.size()); }
    void SweepLingering(time_t now, long nSetting);

    CWharfCore& m_core;
    sockaddr_in m_localAddr{}; // where the listening socket is bound
};
