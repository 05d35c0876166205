// The listener's admission: every datagram that reaches the listening port
// (CListenSocket::OnReceive), from senders admitted or refused by the lists,
// with the slots filling up, requests repeated, sessions ending and swept.
//
// Input: a configuration byte (ServerHarness.h), then records
// (FuzzSupport.h) whose control byte says:
//   bits 0-2  the sender, from kSenders below
//   bits 3-5  where the datagram goes: 0 and 6 the listener, 1 to 5 the
//             session in that slot (the listener when the slot is empty),
//             7 the oldest lingering store (the listener when none)
//   bit 6     the tick clock moves on 1.5 s first (a repeat counts as lost)
//   bit 7     the clock moves on 31 s afterwards and the sessions are swept

#include "ServerHarness.h"

#include "Clock.h"

#include "Tftp.h"

namespace {
const sockaddr_in kSenders[8] = {
    fuzz::Address("127.0.0.1", 40000), fuzz::Address("127.0.0.1", 40001),
    fuzz::Address("127.0.0.1", 40002), fuzz::Address("127.1.2.3", 1234),
    fuzz::Address("127.1.2.4", 1234),  fuzz::Address("127.168.7.7", 69),
    fuzz::Address("0.0.0.0", 0),       fuzz::Address("127.0.0.1", 6969),
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ServerCore();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize < 1)
        return 0;
    CListenSocket* pListener = fuzz::StartServer(pData[0]);
    for (const fuzz::Record& record : fuzz::SplitRecords(pData + 1, nSize - 1)) {
        const sockaddr_in& from = kSenders[record.control & 7];
        const int nTarget = (record.control >> 3) & 7;
        if (record.control & 0x40)
            AdvanceTestTickCount(1500);
        CAsyncSocket* pSocket = pListener;
        if (nTarget >= 1 && nTarget <= 5 && pListener->m_pSession[nTarget - 1])
            pSocket = pListener->m_pSession[nTarget - 1];
        else if (nTarget == 7 && !pListener->m_lingering.empty())
            pSocket = pListener->m_lingering.front();
        const int nSent = fuzz::Deliver(pSocket, record.bytes, from);
        // An ERROR is never answered: two peers would answer each other for ever.
        fuzz::Check(!fuzz::IsError(record.bytes) || nSent == 0, "an ERROR was answered");
        int nOccupied = 0;
        for (const CClientSession* pSession : pListener->m_pSession)
            nOccupied += pSession ? 1 : 0;
        fuzz::Check(pListener->m_nActiveClients == nOccupied,
                    "the count of active clients is not the count of occupied slots");
        if (record.control & 0x80)
            fuzz::Sweep(31);
    }
    fuzz::StopServer();
    return 0;
}
