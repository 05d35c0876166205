#pragma once

#include "Idle.h"
#include "SlotView.h"

#include <QString>
#include <cstdint>
#include <netinet/in.h>
#include <optional>

class CListenSocket;

// A modeless "Executive decision time ..." dialog as serving control sees
// it: shown while clients are served, closed by deleting it.
class CBusyDialog {
public:
    virtual ~CBusyDialog() = default;
    virtual void ShowDialog() = 0;
};
enum class BusyDialogKind { PortChange, StopServing };

// Transfers served at once unless MaxClients says otherwise, and the most
// it may say.
constexpr int kSlots = 5;
constexpr int kMaxSlots = 256;
constexpr int kListEntries = 10;

// The server's shared state, without any window: the settings, the serving
// switch and the current listener. The windowed application derives from it
// and hands the engine its progress view; tests build it alone and hand it
// a recorder.
class CWharfCore : public CWinAppCore {
public:
    CWharfCore();
    ~CWharfCore() override;
    CWharfCore(const CWharfCore&) = delete;
    CWharfCore& operator=(const CWharfCore&) = delete;

    // Settings (stored under Software\Harnwick\Wharfkeep).
    QString m_strInPath;
    QString m_strOutPath;
    QString m_strPort;
    QString m_strTimeout;
    QString m_strForceFile;
    QString m_strAllow[kListEntries];
    QString m_strDeny[kListEntries];
    int m_bForce = 0;
    int m_bAllow = 0;
    int m_bDeny = 0;
    int m_bDisplay = 1;
    int m_bAlertWhenMinimised = 1;
    int m_bAllowTsize = 1;
    int m_bAllowTimeout = 1;
    int m_nDefAddress = 255;
    // The largest window (blocks per acknowledgement) granted to a client
    // that asks for one; 1 never grants the option.
    int m_nMaxWindow = kDefaultMaxWindow;
    static constexpr int kDefaultMaxWindow = 64;
    // How many transfers run at once (1 to kMaxSlots); a lab that boots at
    // once needs more than the default.
    int m_nMaxClients = kSlots;
    // The ports transfers talk from, as typed ("50000-50100"); empty: any.
    QString m_strPortRange;

    // A range of data ports; nFirst 0 stands for any port.
    struct PortRange {
        unsigned nFirst = 0;
        unsigned nLast = 0;
        bool Any() const { return nFirst == 0; }
    };
    // Puts m_strPortRange in force; one that is not a range is reported and
    // leaves transfers on any port.
    void ApplyPortRange();
    PortRange m_dataPorts;
    // Turns through the range, so that a new transfer does not take the
    // port the last one has just let go.
    unsigned m_nNextDataPort = 0;

    // Run-time state.
    CListenSocket* m_pListener = nullptr;
    int m_bServing = 1;
    CBusyDialog* m_pPortChangeDlg = nullptr;
    CBusyDialog* m_pStopDlg = nullptr;
    QString m_szTitle;
    int m_bSweepOnIdle = 1;

    void LoadSettings();
    void SaveSettings();
    // The file the settings are kept in.
    static QString SettingsPath();

    // Where slot changes are reported: the progress view, or one that
    // passes them over while there is none.
    CSlotView& Slots();
    // How progress is shown: the percentage of a read ("?" while it cannot
    // be told, and for a store), and the bytes ("size/sent" for a read, the
    // bytes stored for a store).
    static QString ProgressPercentText(int bRead, uint64_t nTotal, uint64_t nDone);
    // The percentage of a read; -1 when it cannot be told.
    static int ProgressPercent(int bRead, uint64_t nTotal, uint64_t nDone);
    static QString ProgressCountText(int bRead, uint64_t nTotal, uint64_t nDone);

    // The local address the listener binds to; nullopt when none can be had.
    virtual std::optional<QString> ChooseListenAddress();
    // The 1-based position of the address listened on now in the host's
    // address list (what nDefAddress stores), 0 when it is not there.
    int ListeningAddressPosition() const;

    // Serving control.
    bool IsBusy() const;
    void RestartServing(bool bReplaceListener);
    void OnStopServing();
    void OnStartServing();
    void OnPortChanged();
    // After every sweep: a port change or stop that waits for the clients to
    // go is carried out once the last one has been released.
    void CheckDeferredRestart();
    // The engine's idle work: the sweep while no view timer runs it.
    bool OnIdle(long lCount) override;

protected:
    // The progress view, when there is one.
    virtual CSlotView* SlotView() { return nullptr; }
    // What the shell provides: the busy dialogs, the renewed document (new
    // caption, view set up again) and a change of the serving switch.
    virtual CBusyDialog* CreateBusyDialog(BusyDialogKind kind);
    virtual void RenewDocument() {}
    virtual void ServingChanged() {}

public:
    // Admission lists.
    bool IsDenied(const QString& strAddress) const;
    bool IsAllowed(const QString& strAddress) const;
    static bool MatchPattern(const int octets[4], const QString& strPattern);

    // The legacy profile taken over once at start-up.
    static QString LegacyProfilePath();

    // Without a window nobody sees the view, so the server says on standard
    // error (the journal, when it runs as a service) where it serves and how
    // each transfer ended. With a window nothing is written.
    struct TransferEnd {
        sockaddr_in client{};
        bool bRead = true; // the client fetched the file (else it sent one)
        QByteArray path;   // the local file, as opened
        uint64_t nBytes = 0;
        uint64_t nBlocks = 0;
        QString strResult; // kTransferComplete, or what went wrong
    };
    static constexpr const char* kTransferComplete = "complete";
    void ReportListening(const QString& strAddress, unsigned nPort);
    void ReportTransferEnd(const TransferEnd& end);
    static QString TransferEndLine(const TransferEnd& end);
    // Bytes from the network as text for the log, control characters escaped.
    static QString Printable(const QByteArray& bytes);
    // Where the lines go; tests record them instead.
    virtual void LogLine(const QString& strLine);
};
