#include "WharfCore.h"

#include "AsyncSocket.h"
#include "HostAddresses.h"
#include "ListenSocket.h"
#include "LocalAddress.h"
#include "MessageBox.h"
#include "Registry.h"
#include "Tftp.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <cassert>
#include <cstdio>

namespace {
// One shared state at a time: the settings and the seams are the process's.
CWharfCore* g_pCore = nullptr;

const char* const kKeyPath[] = {"Software", "Harnwick", "Wharfkeep"};
constexpr int kTextBuffer = 1000;

// A stored number: absent or unreadable is the default, and a value out of
// range is brought to the nearest bound rather than refused.
int StoredNumber(std::optional<uint32_t> stored, int nDefault, int nMin, int nMax) {
    if (!stored)
        return nDefault;
    const int64_t n = static_cast<int32_t>(*stored);
    return static_cast<int>(std::clamp<int64_t>(n, nMin, nMax));
}

// "first-last" or one port, 1 to 65535; empty is any port. nullopt: not a
// range.
std::optional<CWharfCore::PortRange> ParsePortRange(const QString& strText) {
    const QString strRange = strText.trimmed();
    if (strRange.isEmpty())
        return CWharfCore::PortRange{};
    static const QRegularExpression pattern("^([0-9]{1,5})(?:\\s*-\\s*([0-9]{1,5}))?$");
    const QRegularExpressionMatch match = pattern.match(strRange);
    if (!match.hasMatch())
        return std::nullopt;
    const unsigned nFirst = match.captured(1).toUInt();
    const unsigned nLast = match.hasCaptured(2) ? match.captured(2).toUInt() : nFirst;
    if (nFirst < 1 || nFirst > nLast || nLast > 65535)
        return std::nullopt;
    return CWharfCore::PortRange{nFirst, nLast};
}

// The three option flags packed into bDelete.
constexpr uint32_t kAlertBit = 2;
constexpr uint32_t kTsizeBit = 4;
constexpr uint32_t kTimeoutBit = 8;
} // namespace

CWharfCore::CWharfCore() {
    assert(!g_pCore && "one shared state per process");
    g_pCore = this;
}

CWharfCore::~CWharfCore() {
    delete m_pPortChangeDlg;
    m_pPortChangeDlg = nullptr;
    delete m_pStopDlg;
    m_pStopDlg = nullptr;
    delete m_pListener;
    m_pListener = nullptr;
    if (g_pCore == this)
        g_pCore = nullptr;
}

QString CWharfCore::LegacyProfilePath() {
    return UserConfigDir() + "/wharfkeep.ini";
}

QString CWharfCore::SettingsPath() {
    // The first level of the key path is the configuration folder itself.
    return UserConfigDir() + "/Harnwick/Wharfkeep.ini";
}

void CWharfCore::LoadSettings() {
    m_strPort = "69";
    m_strTimeout = "30";
    m_nDefAddress = 255;
    m_nMaxWindow = kDefaultMaxWindow;
    m_nMaxClients = kSlots;

    CProfile legacy(LegacyProfilePath());
    m_strInPath = legacy.GetProfileString("Options", "Incoming");
    if (!m_strInPath.isEmpty()) {
        m_strOutPath = legacy.GetProfileString("Options", "Outgoing");
        m_strPort = legacy.GetProfileString("Options", "Socket", "69");
        m_strTimeout = legacy.GetProfileString("Options", "Timeout", "60");
        if (QFile::remove(legacy.FilePath()))
            AfxMessageBox("Please check your settings as they have changed", MB_OK);
    }

    CRegKey key;
    for (const char* level : kKeyPath) {
        if (!key.Open(level)) {
            key.Close();
            return;
        }
    }

    uint32_t nDelete = key.QueryDword("bDelete").value_or(0);
    m_bAlertWhenMinimised = (nDelete & kAlertBit) != 0;
    m_bAllowTsize = (nDelete & kTsizeBit) != 0;
    m_bAllowTimeout = (nDelete & kTimeoutBit) != 0;

    auto readText = [&](const QString& name, QString& member) {
        if (auto value = key.QueryString(name, kTextBuffer))
            member = *value;
    };
    readText("InPath", m_strInPath);
    readText("OutPath", m_strOutPath);
    readText("Port", m_strPort);
    readText("Timeout", m_strTimeout);
    readText("ForceFile", m_strForceFile);
    for (int i = 0; i < kListEntries; ++i)
        readText(QString::asprintf("Allow%d", i + 1), m_strAllow[i]);
    for (int i = 0; i < kListEntries; ++i)
        readText(QString::asprintf("Deny%d", i + 1), m_strDeny[i]);

    m_bForce = static_cast<int>(key.QueryDword("bForce").value_or(0));
    m_bAllow = static_cast<int>(key.QueryDword("bAllow").value_or(0));
    m_bDeny = static_cast<int>(key.QueryDword("bDeny").value_or(0));
    m_bDisplay = static_cast<int>(key.QueryDword("bDisplay").value_or(0));
    m_nDefAddress = static_cast<int>(key.QueryDword("nDefAddress").value_or(255));
    m_nMaxWindow = StoredNumber(key.QueryDword("MaxWindow"), kDefaultMaxWindow,
                                tftp::kMinWindowSize, tftp::kMaxWindowSize);
    m_nMaxClients = StoredNumber(key.QueryDword("MaxClients"), kSlots, 1, kMaxSlots);
    readText("PortRange", m_strPortRange);
    key.Close();
    ApplyPortRange();
}

void CWharfCore::ApplyPortRange() {
    const std::optional<PortRange> range = ParsePortRange(m_strPortRange);
    m_dataPorts = range.value_or(PortRange{});
    if (!range)
        AfxMessageBox(QString("PortRange \"%1\" is not a range of ports such as 50000-50100: "
                              "transfers use any free port")
                          .arg(m_strPortRange),
                      MB_OK | MB_ICONEXCLAMATION);
}

void CWharfCore::SaveSettings() {
    CRegKey key;
    for (const char* level : kKeyPath) {
        if (!key.Create(level)) {
            key.Close();
            return;
        }
    }
    key.SetString("InPath", m_strInPath);
    key.SetString("OutPath", m_strOutPath);
    key.SetString("Port", m_strPort);
    key.SetString("Timeout", m_strTimeout);
    key.SetString("ForceFile", m_strForceFile);
    for (int i = 0; i < kListEntries; ++i)
        if (!m_strAllow[i].isEmpty())
            key.SetString(QString::asprintf("Allow%d", i + 1), m_strAllow[i]);
    for (int i = 0; i < kListEntries; ++i)
        if (!m_strDeny[i].isEmpty())
            key.SetString(QString::asprintf("Deny%d", i + 1), m_strDeny[i]);
    key.SetDword("bForce", static_cast<uint32_t>(m_bForce));
    key.SetDword("bAllow", static_cast<uint32_t>(m_bAllow));
    key.SetDword("bDeny", static_cast<uint32_t>(m_bDeny));
    key.SetDword("bDisplay", static_cast<uint32_t>(m_bDisplay));
    uint32_t nDelete = (m_bAlertWhenMinimised ? kAlertBit : 0) | (m_bAllowTsize ? kTsizeBit : 0) |
                       (m_bAllowTimeout ? kTimeoutBit : 0);
    key.SetDword("bDelete", nDelete);
    key.SetDword("nDefAddress", static_cast<uint32_t>(m_nDefAddress));
    key.SetDword("MaxWindow", static_cast<uint32_t>(m_nMaxWindow));
    key.SetDword("MaxClients", static_cast<uint32_t>(m_nMaxClients));
    key.SetString("PortRange", m_strPortRange);
    key.Close();
}

int CWharfCore::ProgressPercent(int bRead, uint64_t nTotal, uint64_t nDone) {
    if (!bRead || nTotal == 0 || nDone == 0)
        return -1;
    return static_cast<int>(100.0 / (static_cast<double>(nTotal) / static_cast<double>(nDone)));
}

QString CWharfCore::ProgressPercentText(int bRead, uint64_t nTotal, uint64_t nDone) {
    const int nPercent = ProgressPercent(bRead, nTotal, nDone);
    return nPercent < 0 ? QString("?") : QString::number(nPercent);
}

QString CWharfCore::ProgressCountText(int bRead, uint64_t nTotal, uint64_t nDone) {
    if (!bRead)
        return QString::number(nDone);
    return QString::number(nTotal) + '/' + QString::number(nDone);
}

CSlotView& CWharfCore::Slots() {
    // No view: every report is passed over.
    static struct CNoView final : CSlotView {
        void SlotFreed(int) override {}
        void ClientArrived(int, const QString&) override {}
        void TransferDetails(int, const QString&, bool, bool) override {}
        void TransferProgress(int, const SlotProgress&) override {}
        void Retransmitted(int) override {}
    } noView;
    CSlotView* pView = SlotView();
    return pView ? *pView : noView;
}

std::optional<QString> CWharfCore::ChooseListenAddress() {
    return ChooseLocalAddress(m_nDefAddress, AddressRole::Server);
}

int CWharfCore::ListeningAddressPosition() const {
    if (!m_pListener || m_pListener->m_strLocalAddress.isEmpty())
        return 0;
    const std::optional<QStringList> addresses = HostAddressList();
    return addresses ? static_cast<int>(addresses->indexOf(m_pListener->m_strLocalAddress)) + 1 : 0;
}

bool CWharfCore::MatchPattern(const int octets[4], const QString& strPattern) {
    if (strPattern.isEmpty())
        return false;
    int fields[4] = {0, 0, 0, 0};
    int nField = 0;
    const int nLength = static_cast<int>(strPattern.size());
    for (int i = 0; i < nLength && nField < 4; ++nField) {
        int& f = fields[nField];
        for (; i < nLength && strPattern[i] != '.'; ++i) {
            QChar c = strPattern[i];
            if (c == '*') {
                f = -1;
                while (i < nLength && strPattern[i] != '.')
                    ++i;
                break;
            }
            if (c >= '0' && c <= '9' && f >= 0) {
                // Saturate: an overlong field matches no octet, never wraps.
                f = f > 100000 ? f : f * 10 + (c.unicode() - '0');
            }
        }
        if (i < nLength)
            ++i; // the dot
    }
    for (int k = 0; k < 4; ++k)
        if (fields[k] != -1 && fields[k] != octets[k])
            return false;
    return true;
}

namespace {
void SplitAddress(const QString& strAddress, int octets[4]) {
    QStringList parts = strAddress.split('.');
    for (int k = 0; k < 4; ++k)
        octets[k] = k < parts.size() ? parts[k].toInt() : 0;
}
} // namespace

bool CWharfCore::IsDenied(const QString& strAddress) const {
    int octets[4];
    SplitAddress(strAddress, octets);
    for (const QString& pattern : m_strDeny)
        if (MatchPattern(octets, pattern))
            return true;
    return false;
}

bool CWharfCore::IsAllowed(const QString& strAddress) const {
    int octets[4];
    SplitAddress(strAddress, octets);
    for (const QString& pattern : m_strAllow)
        if (MatchPattern(octets, pattern))
            return true;
    return false;
}

// A name from the network may hold anything: control characters are shown
// as \xNN so that no client can write lines of its own into the log.
QString CWharfCore::Printable(const QByteArray& bytes) {
    QByteArray shown;
    shown.reserve(bytes.size());
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            shown += QByteArray("\\x") + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            shown += c;
    }
    return QFile::decodeName(shown);
}

namespace {
// A folder as the server opens files in it: relative to the current folder.
QString ShownFolder(const QString& strFolder) {
    if (strFolder.isEmpty())
        return QDir::currentPath() + '/';
    return QDir::current().absoluteFilePath(strFolder);
}
} // namespace

void CWharfCore::LogLine(const QString& strLine) {
    if (!IsHeadless())
        return;
    std::fputs(strLine.toLocal8Bit().append('\n').constData(), stderr);
    std::fflush(stderr);
}

void CWharfCore::ReportListening(const QString& strAddress, unsigned nPort) {
    const QString strIn = ShownFolder(m_strInPath);
    const QString strWhat = m_bForce == 1
                                ? QString("every reader is sent %1; files are stored in %2")
                                      .arg(ShownFolder(m_strOutPath) + m_strForceFile, strIn)
                                : QString("files are sent from %1 and stored in %2")
                                      .arg(ShownFolder(m_strOutPath), strIn);
    LogLine(QString("Serving on %1 port %2: %3").arg(strAddress).arg(nPort).arg(strWhat));
}

QString CWharfCore::TransferEndLine(const TransferEnd& end) {
    const bool bComplete = end.strResult == QLatin1String(kTransferComplete);
    return QString("%1 %2 %3: %4 bytes in %5 block%6, %7%8")
        .arg(DottedAddress(end.client) + ':' + QString::number(ntohs(end.client.sin_port)),
             end.bRead ? "read" : "write", Printable(end.path))
        .arg(end.nBytes)
        .arg(end.nBlocks)
        .arg(end.nBlocks == 1 ? "" : "s", bComplete ? "" : "failed: ", end.strResult);
}

void CWharfCore::ReportTransferEnd(const TransferEnd& end) {
    LogLine(TransferEndLine(end));
}
