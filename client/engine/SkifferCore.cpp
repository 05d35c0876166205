#include "SkifferCore.h"

#include "LocalAddress.h"

#include "Registry.h"
#include "Tftp.h"
#include "TransferSocket.h"

#include <algorithm>
#include <cassert>
#include <climits>

namespace {
// One shared state at a time: the settings and the seams are the process's.
CSkifferCore* g_pCore = nullptr;

const char* const kOptions = "Options";
const char* const kStartup = "Startup";

int ReadFlag(const QString& strValue) {
    return tftp::SameNoCase(strValue.toLatin1().constData(), "Yes") ? 1 : 0;
}
} // namespace

CSkifferCore::CSkifferCore() {
    assert(!g_pCore && "one shared state per process");
    g_pCore = this;
}

CSkifferCore::~CSkifferCore() {
    if (g_pCore == this)
        g_pCore = nullptr;
}

QString CSkifferCore::ProfilePath() {
    return UserConfigDir() + "/skiffer.ini";
}

QString CSkifferCore::GetProfileString(const QString& strSection, const QString& strEntry) const {
    if (m_pProfileWrites)
        return m_pProfileWrites->GetProfileString(strSection, strEntry);
    return CProfile(ProfilePath()).GetProfileString(strSection, strEntry);
}

void CSkifferCore::WriteProfileString(const QString& strSection, const QString& strEntry,
                                      const QString& strValue) {
    if (m_pProfileWrites)
        m_pProfileWrites->WriteProfileString(strSection, strEntry, strValue);
    else
        CProfile(ProfilePath()).WriteProfileString(strSection, strEntry, strValue);
}

void CSkifferCore::BeginProfileWrites() {
    if (!m_pProfileWrites)
        m_pProfileWrites = std::make_unique<CProfile>(ProfilePath());
}

void CSkifferCore::EndProfileWrites() {
    m_pProfileWrites.reset(); // the profile writes what it holds as it goes
}

void CSkifferCore::LoadSettings() {
    m_bOverWrite = ReadFlag(GetProfileString(kOptions, "OverWrite"));
    m_bTruncate = ReadFlag(GetProfileString(kOptions, "Truncate"));
    m_bChangeButtons = ReadFlag(GetProfileString(kOptions, "Change Buttons"));
    m_nDefaultIP = 0;
    m_nDefaultIP = static_cast<int>(
        tftp::LeadingDigits(GetProfileString(kOptions, "Default IP").toLatin1(), INT_MAX));
    m_nWindow = static_cast<int>(std::clamp<unsigned long>(
        tftp::LeadingDigits(GetProfileString(kOptions, "Window").toLatin1(), tftp::kMaxWindowSize),
        tftp::kMinWindowSize, tftp::kMaxWindowSize));
    m_strInbound = GetProfileString(kOptions, "Inbound");
    m_strOutbound = GetProfileString(kOptions, "Outbound");
    m_strHost = GetProfileString(kStartup, "Host");
    m_strLocal = GetProfileString(kStartup, "Local");
    m_strRemote = GetProfileString(kStartup, "Remote");
}

void CSkifferCore::SaveStartup() {
    BeginProfileWrites();
    WriteProfileString(kStartup, "Host", m_strHost);
    WriteProfileString(kStartup, "Local", m_strLocal);
    WriteProfileString(kStartup, "Remote", m_strRemote);
    EndProfileWrites();
}

void CSkifferCore::ShowStatus(const QString&) {}

std::optional<QString> CSkifferCore::ChooseAddress() {
    return ChooseLocalAddress(m_nDefaultIP, AddressRole::Client);
}

void CSkifferCore::TransferDestroyed(CTransferSocket* pTransfer) {
    if (m_pTransfer == pTransfer)
        m_pTransfer = nullptr;
}

bool CSkifferCore::OnIdle(long lCount) {
    bool bMore = CWinAppCore::OnIdle(lCount);
    CTransferSocket* pTransfer = m_pTransfer;
    if (!pTransfer || pTransfer->m_bActive != 1)
        return bMore;
    // Half of every 128 calls: often enough, and cheap between messages.
    if (lCount & 0x40)
        pTransfer->CheckTimeout();
    // Keep idle time coming for as long as a transfer may need ending.
    return true;
}
