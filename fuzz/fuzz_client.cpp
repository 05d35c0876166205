// The client's receive path (CTransferSocket::OnReceive, OnDataPacket,
// OnAckPacket and the OACK in ApplyOptions), fetching and sending, with the
// local files in the fuzz folder (FuzzSupport.h).
//
// Input: a configuration byte, the block size offered (16 bits, big-endian;
// 0 stands for 512, sizes outside 8 to 65464 are refused before the request),
// then records (FuzzSupport.h), each a datagram from the server side:
//   bits 0-1  the sender: 0 the port the request went to (127.0.0.1:6969),
//             1 127.0.0.1:50001, 2 127.0.0.1:50002, 3 127.0.0.9:50001 (another host)
//   bit 2     the clock moves on past the time-out afterwards, and the idle
//             check runs
//   bit 3     the user's Abort afterwards
// Configuration byte:
//   bit 0     send (a write request) rather than fetch
//   bit 1     octet rather than netascii
//   bit 2     the timeout option is sent
//   bits 3-4  the file sent: empty, small.txt, block.bin or multi.bin
//   bit 5     fetching: the local file exists already (the question is
//             answered Yes)
//   bit 6     fetching: overwrite without asking

#include "FuzzSupport.h"
#include "HostAddresses.h"
#include "SkifferCore.h"
#include "Tftp.h"
#include "TransferSocket.h"
#include "TransferView.h"

#include <QCoreApplication>
#include <QFile>
#include <memory>

namespace {
class FuzzSkifferCore : public CSkifferCore {
public:
    void ShowStatus(const QString& strText) override { (void)strText.size(); }
};

class FuzzView : public CTransferView {
protected:
    void OnProgress(ProgressKind, long) override {}
    void OnBlockSize(int) override {}
    void OnAddressChosen(const QString&) override {}
};

const sockaddr_in kSenders[4] = {
    fuzz::Address("127.0.0.1", 6969),
    fuzz::Address("127.0.0.1", 50001),
    fuzz::Address("127.0.0.1", 50002),
    fuzz::Address("127.0.0.9", 50001),
};
const char* const kSentFiles[4] = {"empty", "small.txt", "block.bin", "multi.bin"};
constexpr int kTimeout = 10;

FuzzSkifferCore& Core() {
    static FuzzSkifferCore* pCore = [] {
        fuzz::InitOnce();
        SetHostAddressProvider([] { return std::optional<QStringList>(QStringList{"127.0.0.1"}); });
        return new FuzzSkifferCore;
    }();
    return *pCore;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Core();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize < 3)
        return 0;
    FuzzSkifferCore& core = Core();
    fuzz::StartInput();
    const uint8_t nConfig = pData[0];
    const int nOffered = (pData[1] << 8) | pData[2];
    const bool bSending = (nConfig & 0x01) != 0;
    const int bOctet = (nConfig & 0x02) ? 1 : 0;
    core.m_strInbound = fuzz::InDir();
    core.m_strOutbound = fuzz::OutDir();
    core.m_bOverWrite = (nConfig & 0x40) ? 1 : 0;

    {
        FuzzView view;
        auto pTransfer = std::make_unique<CTransferSocket>(core, &view);
        fuzz::Check(pTransfer->CreateTransferSocket() == 1, "no transfer socket");
        pTransfer->m_bDroppedPath = 0;
        pTransfer->m_bSending = bSending ? 1 : 0;
        pTransfer->m_nTimeout = kTimeout;
        pTransfer->m_nBlockSize = nOffered == 0 ? tftp::kDefaultBlockSize : nOffered;
        pTransfer->m_bSendTimeout = (nConfig & 0x04) ? 1 : 0;

        int nStarted = 0;
        if (bSending) {
            nStarted = pTransfer->StartSend("remote.bin", kSentFiles[(nConfig >> 3) & 3],
                                            "127.0.0.1", 6969, bOctet, {});
        } else {
            if (nConfig & 0x20) {
                QFile existing(fuzz::InDir() + "fetched.bin");
                if (existing.open(QIODevice::WriteOnly))
                    existing.write("old contents\n");
            }
            nStarted =
                pTransfer->StartFetch("remote.bin", "fetched.bin", "127.0.0.1", 6969, bOctet);
        }
        if (nStarted == 1) {
            for (const fuzz::Record& record : fuzz::SplitRecords(pData + 3, nSize - 3)) {
                fuzz::Deliver(pTransfer.get(), record.bytes, kSenders[record.control & 3]);
                if (pTransfer->m_bActive == 1)
                    fuzz::Check(
                        pTransfer->m_nBlockSize >= tftp::kMinBlockSize &&
                            pTransfer->m_nBlockSize <= tftp::kMaxBlockSize &&
                            pTransfer->m_pBuffer.size() >=
                                static_cast<size_t>(pTransfer->m_nBlockSize + tftp::kHeaderSize),
                        "a block size outside 8 to 65464 or larger than the buffer");
                if (record.control & 0x04) {
                    CTime::AdvanceTestTime(kTimeout + 1);
                    core.OnIdle(0x40);
                }
                if (record.control & 0x08)
                    pTransfer->Abort();
            }
        }
        pTransfer.reset();
        // What the transfer posted reaches the view, as the event loop would
        // deliver it; nothing waits.
        QCoreApplication::sendPostedEvents();
    }
    return 0;
}
