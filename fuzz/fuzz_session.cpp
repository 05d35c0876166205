// A session's receive path (CClientSession::OnReceive, HandleAck for a read,
// HandleData for a write) with the file in the fuzz folder.
//
// Input: records (FuzzSupport.h). The first is the request, sent to the
// listening port from the client 127.0.0.1:40000; its control byte is the
// configuration byte (ServerHarness.h). Every later record goes to the
// session the request made, its control byte saying:
//   bits 0-1  0: from the client; 1: from another port of its host;
//             2: from another host with the client's port; 3: from the
//             client to the listening port (a repeated or new request)
//   bit 2     the tick clock moves on 1.5 s first (a repeat counts as lost)
//   bit 3     the clock moves on 31 s afterwards and the sessions are swept
//   bit 4     to the oldest lingering store instead, when there is one
// Records for a session that is gone are passed over.

#include "ServerHarness.h"

#include "Clock.h"

#include "Tftp.h"

namespace {
const sockaddr_in kClient = fuzz::Address("127.0.0.1", fuzz::kClientPort);
const sockaddr_in kOtherPort = fuzz::Address("127.0.0.1", fuzz::kClientPort + 1);
const sockaddr_in kOtherHost = fuzz::Address("127.9.8.7", fuzz::kClientPort);

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ServerCore();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    const std::vector<fuzz::Record> records = fuzz::SplitRecords(pData, nSize);
    if (records.empty())
        return 0;
    CListenSocket* pListener = fuzz::StartServer(records[0].control);
    fuzz::Deliver(pListener, records[0].bytes, kClient);
    for (size_t i = 1; i < records.size(); ++i) {
        const fuzz::Record& record = records[i];
        if (record.control & 0x04)
            AdvanceTestTickCount(1500);
        CAsyncSocket* pSocket = pListener->m_pSession[0];
        if ((record.control & 0x10) && !pListener->m_lingering.empty())
            pSocket = pListener->m_lingering.front();
        const sockaddr_in* pFrom = &kClient;
        switch (record.control & 3) {
        case 1:
            pFrom = &kOtherPort;
            break;
        case 2:
            pFrom = &kOtherHost;
            break;
        case 3:
            pSocket = pListener;
            break;
        }
        if (pSocket) {
            const int nSent = fuzz::Deliver(pSocket, record.bytes, *pFrom);
            // An ERROR is never answered: two peers would answer each other for ever.
            fuzz::Check(!fuzz::IsError(record.bytes) || nSent == 0, "an ERROR was answered");
            if (CClientSession* pSession = pListener->m_pSession[0])
                fuzz::Check(pSession->m_nBlockSize >= tftp::kMinBlockSize &&
                                pSession->m_nBlockSize <= tftp::kMaxBlockSize &&
                                pSession->m_pBuffer.size() >=
                                    static_cast<size_t>(pSession->m_nBlockSize + tftp::kHeaderSize),
                            "a block size outside 8 to 65464 or larger than the buffer");
        }
        if (record.control & 0x08)
            fuzz::Sweep(31);
    }
    fuzz::StopServer();
    return 0;
}
