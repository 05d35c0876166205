#pragma once

#include "Idle.h"
#include "TransferView.h"

#include <QString>
#include <memory>

class CProfile;

// The client's shared state, without any window: the settings kept in the
// profile, the status line and the idle-time check of the running transfer.
// The windowed application derives from it; tests build it alone and
// override ShowStatus to record the status line.
class CSkifferCore : public CWinAppCore, public CTransferOwner {
public:
    CSkifferCore();
    ~CSkifferCore() override;
    CSkifferCore(const CSkifferCore&) = delete;
    CSkifferCore& operator=(const CSkifferCore&) = delete;

    // Settings (sections "Options" and "Startup" of the profile).
    int m_bOverWrite = 0;
    int m_bTruncate = 0;
    int m_bChangeButtons = 0;
    int m_nDefaultIP = 0;
    // Blocks per acknowledgement asked of the server ("Window"); 1 sends no
    // windowsize option.
    int m_nWindow = 1;
    QString m_strInbound;
    QString m_strOutbound;
    QString m_strHost;
    QString m_strLocal;
    QString m_strRemote;

    // The main view's transfer object, current or last; not owned. Every new
    // transfer object is made with this as its owner, which keeps it here
    // until it is destroyed.
    CTransferSocket* m_pTransfer = nullptr;

    void LoadSettings();
    void SaveStartup();

    // The profile: <config>/skiffer.ini.
    static QString ProfilePath();
    QString GetProfileString(const QString& strSection, const QString& strEntry) const;
    void WriteProfileString(const QString& strSection, const QString& strEntry,
                            const QString& strValue);
    // Writes made between these two reach the file in one go, at the end.
    void BeginProfileWrites();
    void EndProfileWrites();

    // What a transfer reads and tells.
    std::optional<QString> ChooseAddress() override;
    QString InboundFolder() const override { return m_strInbound; }
    QString OutboundFolder() const override { return m_strOutbound; }
    bool OverwriteWithoutAsking() const override { return m_bOverWrite != 0; }
    // The first pane of the status bar.
    void ShowStatus(const QString& strText) override;
    void TransferCreated(CTransferSocket* pTransfer) override { m_pTransfer = pTransfer; }
    void TransferDestroyed(CTransferSocket* pTransfer) override;

    // Runs the transfer's time-out check while the program is idle.
    bool OnIdle(long lCount) override;

private:
    std::unique_ptr<CProfile> m_pProfileWrites; // between Begin- and EndProfileWrites
};
