#include "ServerHarness.h"

#include "Clock.h"
#include "Tftp.h"

namespace fuzz {

void FuzzWharfCore::CheckSlot(int nSlot) {
    Check(nSlot >= 1 && nSlot <= kMaxSlots, "a slot outside 1 to kMaxSlots was reported");
}

void FuzzWharfCore::TransferProgress(int nSlot, const SlotProgress& p) {
    CheckSlot(nSlot);
    (void)(ProgressPercentText(p.bRead, p.nTotal, p.nDone).size() +
           ProgressCountText(p.bRead, p.nTotal, p.nDone).size());
}

bool IsError(const QByteArray& bytes) {
    return bytes.size() >= 2 &&
           tftp::GetWord(reinterpret_cast<const uint8_t*>(bytes.constData())) == tftp::OP_ERROR;
}

FuzzWharfCore& ServerCore() {
    static FuzzWharfCore* pCore = [] {
        InitOnce();
        return new FuzzWharfCore;
    }();
    return *pCore;
}

CListenSocket* StartServer(uint8_t nConfig) {
    FuzzWharfCore& core = ServerCore();
    StartInput();
    core.m_strOutPath = OutDir();
    core.m_strInPath = InDir();
    core.m_strPort = "6969";
    core.m_strTimeout = "30";
    core.m_strForceFile = "small.txt";
    core.m_bServing = (nConfig & kNotServing) ? 0 : 1;
    core.m_bAllow = (nConfig & kAllowList) ? 1 : 0;
    core.m_bDeny = (nConfig & kDenyList) ? 1 : 0;
    core.m_bAllowTsize = (nConfig & kNoTsize) ? 0 : 1;
    core.m_bAllowTimeout = (nConfig & kNoTimeout) ? 0 : 1;
    core.m_bForce = (nConfig & kForceFile) ? 1 : 0;
    core.m_bSweepOnIdle = (nConfig & kNoSweepOnIdle) ? 0 : 1;
    core.m_strAllow[0] = "127.0.0.*";
    core.m_strAllow[1] = "127.1.2.*";
    core.m_strDeny[0] = "127.1.2.3";
    core.m_strDeny[1] = "127.168.*.*";
    auto* pListener = new CListenSocket(ServerCore());
    core.m_pListener = pListener;
    Check(pListener->StartListening(), "the listener did not start");
    return pListener;
}

void StopServer() {
    FuzzWharfCore& core = ServerCore();
    delete core.m_pListener;
    core.m_pListener = nullptr;
}

void Sweep(long nSeconds) {
    CTime::AdvanceTestTime(nSeconds);
    AdvanceTestTickCount(static_cast<unsigned long long>(nSeconds) * 1000);
    FuzzWharfCore& core = ServerCore();
    if (core.m_pListener)
        core.m_pListener->SweepSessions();
}

} // namespace fuzz
