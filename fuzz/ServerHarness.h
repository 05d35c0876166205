#pragma once

// The server's engine as the fuzz targets run it: one shared state without a
// window, its settings taken from a configuration byte, and a listener on a
// hooked socket (no real port) serving the fuzz folder.

#include "ClientSession.h"
#include "FuzzSupport.h"
#include "ListenSocket.h"
#include "WharfCore.h"

#include <cstdint>

namespace fuzz {

// The shared state with the view left out: every report's slot is checked
// and its progress put into words, as the view would.
class FuzzWharfCore : public CWharfCore, public CSlotView {
public:
    void SlotFreed(int nSlot) override { CheckSlot(nSlot); }
    void ClientArrived(int nSlot, const QString&) override { CheckSlot(nSlot); }
    void TransferDetails(int nSlot, const QString&, bool, bool) override { CheckSlot(nSlot); }
    void TransferProgress(int nSlot, const SlotProgress& progress) override;
    void Retransmitted(int nSlot) override { CheckSlot(nSlot); }
    std::optional<QString> ChooseListenAddress() override { return QString("127.0.0.1"); }
    // The lines are made (and so fuzzed) but not written: stderr is the
    // fuzzer's report.
    void LogLine(const QString& strLine) override { m_nLogged += strLine.size() > 0; }
    int m_nLogged = 0;

protected:
    CSlotView* SlotView() override { return this; }

private:
    static void CheckSlot(int nSlot);
};

// Configuration byte:
constexpr uint8_t kNotServing = 0x01;    // the serving switch off
constexpr uint8_t kAllowList = 0x02;     // only 127.0.0.* and 127.1.2.* admitted
constexpr uint8_t kDenyList = 0x04;      // 127.1.2.3 and 127.168.*.* refused
constexpr uint8_t kNoTsize = 0x08;       // the tsize option refused
constexpr uint8_t kNoTimeout = 0x10;     // the timeout option refused
constexpr uint8_t kForceFile = 0x20;     // every read gets small.txt
constexpr uint8_t kNoSweepOnIdle = 0x40; // (the idle sweep switch; no idle runs here)

// Once per process: InitOnce and the shared state.
FuzzWharfCore& ServerCore();

// Before every input: StartInput, the settings from the configuration byte,
// and a new listener on port 6969 of 127.0.0.1, put in the shared state.
CListenSocket* StartServer(uint8_t nConfig);
// After every input: the listener and its sessions deleted.
void StopServer();

// The sweep the idle time would run, after the clock moved on by nSeconds.
void Sweep(long nSeconds);

// The peer of the session targets: the client's address and port.
constexpr uint16_t kClientPort = 40000;

// The datagram is an ERROR packet, which the server never answers.
bool IsError(const QByteArray& bytes);

} // namespace fuzz
