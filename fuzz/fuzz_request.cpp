// The request parse with option negotiation (CClientSession::ParseRequest),
// reached as a client reaches it: the whole input is one datagram to the
// listening port from 127.0.0.1:40000. The folders are the fuzz folder's
// (FuzzSupport.h); every option is allowed.

#include "ServerHarness.h"

#include "Tftp.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::ServerCore();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    CListenSocket* pListener = fuzz::StartServer(0);
    const QByteArray request(reinterpret_cast<const char*>(pData), static_cast<qsizetype>(nSize));
    fuzz::Deliver(pListener, request, fuzz::Address("127.0.0.1", fuzz::kClientPort));

    // A read or write request that fits the request buffer gets one answer
    // from its session: the first block, ACK 0, an OACK or an ERROR.
    const unsigned nOpcode =
        nSize >= 2 ? tftp::GetWord(reinterpret_cast<const uint8_t*>(request.constData())) : 0;
    if (nSize >= 4 && nSize <= static_cast<size_t>(tftp::kMaxRequestSize) &&
        (nOpcode == tftp::OP_RRQ || nOpcode == tftp::OP_WRQ)) {
        fuzz::Check(pListener->m_pSession[0] != nullptr, "a request got no session");
        fuzz::Check(fuzz::SentCount() == 1, "a request was not answered exactly once");
        const QByteArray& answer = fuzz::LastSent().bytes;
        fuzz::Check(answer.size() >= 4, "an answer shorter than 4 bytes");
        const unsigned nAnswer =
            tftp::GetWord(reinterpret_cast<const uint8_t*>(answer.constData()));
        const bool bRead = nOpcode == tftp::OP_RRQ;
        fuzz::Check(nAnswer == tftp::OP_ERROR || nAnswer == tftp::OP_OPTION_FAILURE ||
                        nAnswer == tftp::OP_OACK ||
                        nAnswer == (bRead ? tftp::OP_DATA : tftp::OP_ACK),
                    "an answer of the wrong kind");
    } else {
        fuzz::Check(pListener->m_pSession[0] == nullptr, "a session for no request");
    }
    fuzz::StopServer();
    return 0;
}
