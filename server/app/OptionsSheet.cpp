#include "OptionsSheet.h"

#include "DialogUnits.h"
#include "HelpWindow.h"
#include "Tftp.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {
// The settings file keeps texts of at most 999 characters; a longer one
// would be written but not read back at the next start.
constexpr int kMaxText = 999;

constexpr int kPageWidth = 183;
constexpr int kPageHeight = 124;

const QChar kSeparator = QDir::separator();

void SetEditText(QLineEdit* pEdit, const QString& text) {
    pEdit->setText(text);
    pEdit->setCursorPosition(0);
}

// A path left as it was stays exactly as stored: an empty one must not
// become the folder the program happened to start in. A changed one is
// normalised, shown and stored.
void ConfirmPath(QLineEdit* pEdit, QString& strField, QString& strSetting) {
    if (pEdit->text() == strField)
        return;
    strField = COptions::NormalisePath(pEdit->text());
    SetEditText(pEdit, strField);
    strSetting = strField;
}

// A typed number as it is put in force: empty is the default, and a number
// out of range is brought to the nearest bound rather than refused. The
// field then shows the number in force, not what was typed.
void ConfirmNumber(QLineEdit* pEdit, QString& strField, int& nSetting, int nDefault, int nMin,
                   int nMax) {
    const QString text = pEdit->text();
    nSetting = text.isEmpty() ? nDefault
                              : static_cast<int>(std::max<unsigned long>(
                                    tftp::LeadingDigits(text.toLatin1(), nMax), nMin));
    strField = QString::number(nSetting);
    SetEditText(pEdit, strField);
}
} // namespace

// ---------------------------------------------------------------------------

CPropertyPage::CPropertyPage(int nDialogId, const QString& strCaption) : m_strCaption(strCaption) {
    setObjectName(QString::number(nDialogId));
    const CDialogUnits du(font());
    setMinimumSize(du.X(kPageWidth), du.Y(kPageHeight));
}

void CPropertyPage::SetModified(bool bModified) {
    m_bModified = bModified;
    emit ModifiedChanged();
}

void CPropertyPage::showEvent(QShowEvent* pEvent) {
    if (!m_bShown) {
        m_bShown = true;
        OnInitPage();
    }
    QWidget::showEvent(pEvent);
}

QLineEdit* CPropertyPage::AddEdit(const CDialogUnits& du, int nId, int x, int y, int w, int h) {
    auto* pEdit = new QLineEdit(this);
    pEdit->setObjectName(QString::number(nId));
    pEdit->setGeometry(du.Rect(x, y, w, h).adjusted(0, -1, 0, 2));
    pEdit->setMaxLength(kMaxText);
    // Only what the user types counts as a change.
    connect(pEdit, &QLineEdit::textEdited, this, [this] { SetModified(); });
    return pEdit;
}

QCheckBox* CPropertyPage::AddBox(const CDialogUnits& du, int nId, const QString& text, int x,
                                 int y) {
    auto* pBox = new QCheckBox(text, this);
    pBox->setObjectName(QString::number(nId));
    pBox->adjustSize();
    pBox->move(du.X(x), du.Y(y) - (pBox->height() - du.Y(8)) / 2);
    connect(pBox, &QCheckBox::clicked, this, [this] { SetModified(); });
    return pBox;
}

void CPropertyPage::AddGroup(const CDialogUnits& du, const QString& title, int x, int y, int w,
                             int h, const QString& strWhatsThis) {
    auto* pGroup = new QGroupBox(title, this);
    pGroup->setWhatsThis(strWhatsThis);
    pGroup->setGeometry(du.Rect(x, y, w, h).adjusted(0, -du.Y(3), 0, du.Y(3)));
    pGroup->lower();
}

// ---------------------------------------------------------------------------

namespace {
const char* const kInboundHelp = "Inbound file path: the folder where files sent by clients "
                                 "are stored. Empty means the folder the program was started "
                                 "from.";
const char* const kOutboundHelp = "Outbound file path: the folder clients fetch files from; "
                                  "they can reach only files inside it. Empty means the folder "
                                  "the program was started from.";
const char* const kPortHelp = "Use Port: the UDP port the server listens on; 69 is TFTP's usual "
                              "port. The server moves to a new port at OK or Apply.";
const char* const kTimeoutHelp = "Timeout: the seconds a client may stay silent before the "
                                 "server sends its last packet again, 30 to 7200. After five "
                                 "tries the client is given up.";
const char* const kMaxWindowHelp = "Max Window: the most blocks a client may receive or send per "
                                   "acknowledgement when it asks for a window (RFC 7440), 1 to "
                                   "65535. 1 keeps every transfer lock-step; 64 is the default.";
const char* const kMaxClientsHelp = "Max Clients: how many transfers the server runs at once, 1 "
                                    "to 256; 5 is the default. Raise it for a lab whose machines "
                                    "boot at once: each transfer takes one row of the window.";
const char* const kDataPortsHelp =
    "Data Ports: the UDP ports transfers talk from, as a range such as 50000-50100, or one "
    "port. A firewall then needs only the listening port and this range open. Empty means any "
    "free port. Each transfer needs a port of its own; when none is free, the client is told "
    "so. A text that is not a range is reported and counts as empty.";
} // namespace

CInboundPage::CInboundPage() : CPropertyPage(103, "Inbound") {
    const CDialogUnits du(font());
    AddGroup(du, "Inbound file path", 5, 5, 170, 25, kInboundHelp);
    m_pPath = AddEdit(du, 1000, 10, 15, 160, 12);
    m_pPath->setAccessibleName("Inbound file path");
    m_pPath->setWhatsThis(kInboundHelp);
    setWhatsThis(Summary());
}

QString CInboundPage::Summary() const {
    return "Inbound: where the files that clients send are stored.";
}

void CInboundPage::LoadFields(const CWharfCore& core) {
    m_strInPath = core.m_strInPath;
}

void CInboundPage::OnInitPage() {
    SetEditText(m_pPath, m_strInPath);
}

void CInboundPage::OnConfirm(CWharfCore& core) {
    ConfirmPath(m_pPath, m_strInPath, core.m_strInPath);
}

// ---------------------------------------------------------------------------

COutboundPage::COutboundPage() : CPropertyPage(105, "Outbound") {
    const CDialogUnits du(font());
    AddGroup(du, "Outbound file path", 5, 5, 170, 25, kOutboundHelp);
    m_pPath = AddEdit(du, 1002, 10, 15, 160, 12);
    m_pForce = AddBox(du, 1004, "Only Send This File", 5, 35);
    m_pForceFile = AddEdit(du, 1003, 5, 50, 160, 12);
    m_pPath->setAccessibleName("Outbound file path");
    m_pForceFile->setAccessibleName("Only Send This File");
    m_pPath->setWhatsThis(kOutboundHelp);
    m_pForce->setWhatsThis("Only Send This File: when ticked, every client that fetches a file "
                           "gets the file named below, whatever name it asks for.");
    m_pForceFile->setWhatsThis("The file sent to every client while Only Send This File is "
                               "ticked: its name as it lies in the outbound folder.");
    setWhatsThis(Summary());
}

QString COutboundPage::Summary() const {
    return "Outbound: the folder clients fetch files from, and a file to send to everyone.";
}

void COutboundPage::LoadFields(const CWharfCore& core) {
    m_bForce = core.m_bForce;
    m_strForceFile = core.m_strForceFile;
    m_strOutPath = core.m_strOutPath;
}

void COutboundPage::OnInitPage() {
    m_pForce->setChecked(m_bForce != 0);
    SetEditText(m_pForceFile, m_strForceFile);
    SetEditText(m_pPath, m_strOutPath);
}

void COutboundPage::OnConfirm(CWharfCore& core) {
    m_bForce = m_pForce->isChecked() ? 1 : 0;
    m_strForceFile = m_pForceFile->text();
    core.m_bForce = m_bForce;
    core.m_strForceFile = m_strForceFile;
    ConfirmPath(m_pPath, m_strOutPath, core.m_strOutPath);
}

// ---------------------------------------------------------------------------

CListPage::CListPage(int nDialogId, const QString& strCaption, const QString& strBox,
                     const QString& strBoxHelp)
    : CPropertyPage(nDialogId, strCaption) {
    const CDialogUnits du(font());
    m_pFlag = AddBox(du, 1005, strBox, 5, 5);
    m_pFlag->setWhatsThis(strBoxHelp);
    // Entries 1 and 2 on the first line, left and right, and so on.
    for (int i = 0; i < kListEntries; ++i) {
        m_pEntry[i] = AddEdit(du, 1006 + i, i % 2 == 0 ? 5 : 95, 20 + 15 * (i / 2), 85, 12);
        m_pEntry[i]->setAccessibleName(QString("%1 %2").arg(strCaption).arg(i + 1));
        m_pEntry[i]->setWhatsThis("An address pattern: four fields separated by dots, each a "
                                  "number or * for any value, such as 192.168.0.*. An empty "
                                  "field matches nobody.");
    }
}

void CListPage::OnInitPage() {
    m_pFlag->setChecked(m_bFlag != 0);
    for (int i = 0; i < kListEntries; ++i)
        SetEditText(m_pEntry[i], m_strEntry[i]);
}

void CListPage::ConfirmInto(int& bFlag, QString (&entries)[kListEntries]) {
    m_bFlag = m_pFlag->isChecked() ? 1 : 0;
    bFlag = m_bFlag;
    for (int i = 0; i < kListEntries; ++i) {
        m_strEntry[i] = m_pEntry[i]->text();
        entries[i] = m_strEntry[i];
    }
}

CAllow::CAllow()
    : CListPage(106, "Allow", "Only allow these connections",
                "Only allow these connections: when ticked, only clients whose address matches "
                "a pattern below are served; others are told \"Service not available\".") {
    setWhatsThis(Summary());
}

QString CAllow::Summary() const {
    return "Allow: the only client addresses to serve, when the box is ticked.";
}

void CAllow::LoadFields(const CWharfCore& core) {
    m_bFlag = core.m_bAllow;
    for (int i = 0; i < kListEntries; ++i)
        m_strEntry[i] = core.m_strAllow[i];
}

void CAllow::OnConfirm(CWharfCore& core) {
    ConfirmInto(core.m_bAllow, core.m_strAllow);
}

CDeny::CDeny()
    : CListPage(107, "Deny", "Do not allow these connections",
                "Do not allow these connections: when ticked, clients whose address matches a "
                "pattern below are refused with \"Service not available\".") {
    setWhatsThis(Summary());
}

QString CDeny::Summary() const {
    return "Deny: client addresses to refuse, when the box is ticked.";
}

void CDeny::LoadFields(const CWharfCore& core) {
    m_bFlag = core.m_bDeny;
    for (int i = 0; i < kListEntries; ++i)
        m_strEntry[i] = core.m_strDeny[i];
}

void CDeny::OnConfirm(CWharfCore& core) {
    ConfirmInto(core.m_bDeny, core.m_strDeny);
}

// ---------------------------------------------------------------------------

COther::COther() : CPropertyPage(108, "Options") {
    const CDialogUnits du(font());
    m_pPort = AddField(du, 1006, "Use Port ", 5, 5, 45, "[0-9]{0,5}", kPortHelp);
    m_pTimeout = AddField(du, 1007, "Timeout", 65, 5, 45, "[0-9]*", kTimeoutHelp);
    m_pMaxWindow = AddField(du, 1008, "Max Window", 125, 5, 50, "[0-9]{0,5}", kMaxWindowHelp);
    m_pPortRange = AddField(du, 1009, "Data Ports", 5, 92, 80, " *[0-9]{0,5} *-? *[0-9]{0,5} *",
                            kDataPortsHelp);
    m_pMaxClients = AddField(du, 1010, "Max Clients", 125, 92, 50, "[0-9]{0,3}", kMaxClientsHelp);
    const char* const texts[4] = {"Do not show multihomed request box",
                                  "Show alert box when minimised", "Allow tSize option request",
                                  "Allow timeout option request"};
    const char* const help[4] = {
        "Ticked: the address listened on now is used at every start without asking. Not "
        "ticked: the server asks at the next start. Only on a machine with several addresses.",
        "When ticked, a small window tells you when a new client arrives while the main "
        "window is minimised.",
        "When ticked, a client that asks for the size of a file before fetching it is told, so "
        "that it can show its progress.",
        "When ticked, the server confirms a client's request for a time-out of its own, from 1 "
        "to 255 seconds."};
    for (int i = 0; i < 4; ++i) {
        m_pBox[i] = AddBox(du, 1035 + i, texts[i], 4, 40 + 12 * i);
        m_pBox[i]->setWhatsThis(help[i]);
    }
    setWhatsThis(Summary());
}

// A titled group at (x, y), w wide, holding one edit that takes only what
// the pattern allows, named after the title.
QLineEdit* COther::AddField(const CDialogUnits& du, int nId, const char* pszTitle, int x, int y,
                            int w, const char* pszPattern, const char* pszHelp) {
    AddGroup(du, pszTitle, x, y, w, 25, pszHelp);
    QLineEdit* pEdit = AddEdit(du, nId, x + 10, y + 10, w - 20, 12);
    pEdit->setValidator(new QRegularExpressionValidator(QRegularExpression(pszPattern), pEdit));
    pEdit->setAccessibleName(QString(pszTitle).trimmed());
    pEdit->setWhatsThis(pszHelp);
    return pEdit;
}

QString COther::Summary() const {
    return "Options: the port, the time-out, the window, the data ports, how many clients are "
           "served at once and how the server deals with them.";
}

void COther::LoadFields(const CWharfCore& core) {
    m_strPort = core.m_strPort;
    m_strTimeout = core.m_strTimeout;
    m_strMaxWindow = QString::number(core.m_nMaxWindow);
    m_strMaxClients = QString::number(core.m_nMaxClients);
    m_strPortRange = core.m_strPortRange;
    m_bAlert = core.m_bAlertWhenMinimised != 0;
    m_bTsize = core.m_bAllowTsize != 0;
    m_bTimeoutOption = core.m_bAllowTimeout != 0;
    // 0: the host had one address at the last start, there is nothing to ask.
    if (core.m_nDefAddress != 0) {
        m_bMultihomed = 1;
        m_bNoAddressRequest = core.m_nDefAddress != 255;
    } else {
        m_bMultihomed = 0;
    }
}

void COther::OnInitPage() {
    SetEditText(m_pPort, m_strPort);
    SetEditText(m_pTimeout, m_strTimeout);
    SetEditText(m_pMaxWindow, m_strMaxWindow);
    SetEditText(m_pMaxClients, m_strMaxClients);
    SetEditText(m_pPortRange, m_strPortRange);
    m_pBox[0]->setChecked(m_bNoAddressRequest);
    m_pBox[1]->setChecked(m_bAlert);
    m_pBox[2]->setChecked(m_bTsize);
    m_pBox[3]->setChecked(m_bTimeoutOption);
    m_pBox[0]->setEnabled(m_bMultihomed == 1);
}

void COther::OnConfirm(CWharfCore& core) {
    m_strPort = m_pPort->text();
    m_strTimeout = m_pTimeout->text();
    m_bNoAddressRequest = m_pBox[0]->isChecked();
    m_bAlert = m_pBox[1]->isChecked();
    m_bTsize = m_pBox[2]->isChecked();
    m_bTimeoutOption = m_pBox[3]->isChecked();

    if (m_strPort != core.m_strPort) {
        core.m_strPort = m_strPort;
        core.OnPortChanged();
    }
    core.m_strTimeout = m_strTimeout;
    ConfirmNumber(m_pMaxWindow, m_strMaxWindow, core.m_nMaxWindow, CWharfCore::kDefaultMaxWindow,
                  tftp::kMinWindowSize, tftp::kMaxWindowSize);
    // The view follows at its next tick or client.
    ConfirmNumber(m_pMaxClients, m_strMaxClients, core.m_nMaxClients, kSlots, 1, kMaxSlots);
    // Only a change is put in force, so a range that is not one is reported
    // once, not at every Apply.
    m_strPortRange = m_pPortRange->text().trimmed();
    if (m_strPortRange != core.m_strPortRange) {
        core.m_strPortRange = m_strPortRange;
        core.ApplyPortRange();
    }
    // Unticked: ask for the address again at the next start. Ticked where
    // the server still asks: remember the address it listens on now.
    if (m_bMultihomed == 1) {
        if (!m_bNoAddressRequest)
            core.m_nDefAddress = 255;
        else if (core.m_nDefAddress == 255)
            if (const int nPosition = core.ListeningAddressPosition(); nPosition > 0)
                core.m_nDefAddress = nPosition;
    }
    core.m_bAlertWhenMinimised = m_bAlert ? 1 : 0;
    core.m_bAllowTsize = m_bTsize ? 1 : 0;
    core.m_bAllowTimeout = m_bTimeoutOption ? 1 : 0;
}

// ---------------------------------------------------------------------------

COptions::COptions(CWharfCore& core, QWidget* pParent) : QDialog(pParent), m_core(core) {
    setObjectName("COptions");
    setWindowTitle("Server Options");
    m_pTabs = new QTabWidget;
    for (CPropertyPage* pPage : std::initializer_list<CPropertyPage*>{
             &m_inbound, &m_outbound, &m_allow, &m_deny, &m_other}) {
        m_pTabs->setTabWhatsThis(m_pTabs->addTab(pPage, pPage->Caption()), pPage->Summary());
        connect(pPage, &CPropertyPage::ModifiedChanged, this, &COptions::UpdateApply);
    }
    m_pTabs->setCurrentIndex(0);
    setWhatsThis("Server Options: the server's settings on five pages.");
    AddWhatsThisKey(this);

    auto* pOk = new QPushButton("OK");
    pOk->setObjectName("1");
    pOk->setDefault(true);
    pOk->setWhatsThis("Takes over the changes on every page you opened, and closes the sheet.");
    auto* pCancel = new QPushButton("Cancel");
    pCancel->setObjectName("2");
    pCancel->setWhatsThis("Closes the sheet; changes not yet applied are forgotten.");
    m_pApply = new QPushButton("&Apply");
    m_pApply->setObjectName(QString::number(kApplyId));
    m_pApply->setEnabled(false);
    m_pApply->setAutoDefault(false);
    m_pApply->setWhatsThis("Takes over the changes and leaves the sheet open. Available once "
                           "something has been changed.");
    connect(pOk, &QPushButton::clicked, this, &COptions::accept);
    connect(pCancel, &QPushButton::clicked, this, &COptions::reject);
    connect(m_pApply, &QPushButton::clicked, this, &COptions::OnApply);

    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch();
    pButtons->addWidget(pOk);
    pButtons->addWidget(pCancel);
    pButtons->addWidget(m_pApply);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(m_pTabs);
    pLayout->addLayout(pButtons);
    pLayout->setSizeConstraint(QLayout::SetFixedSize);
}

void COptions::setVisible(bool bVisible) {
    // The copy on opening comes before any page is shown.
    if (bVisible && !m_bOpened) {
        m_bOpened = true;
        for (int i = 0; i < m_pTabs->count(); ++i)
            static_cast<CPropertyPage*>(m_pTabs->widget(i))->LoadFields(m_core);
    }
    QDialog::setVisible(bVisible);
}

QString COptions::NormalisePath(const QString& strPath) {
    if (!strPath.isEmpty()) {
        if (!strPath.endsWith(kSeparator))
            return strPath + kSeparator;
        return strPath;
    }
    QString strCurrent = QDir::toNativeSeparators(QDir::currentPath());
    if (!strCurrent.isEmpty() && !strCurrent.endsWith(kSeparator))
        strCurrent += kSeparator;
    return strCurrent;
}

bool COptions::Confirm() {
    for (int i = 0; i < m_pTabs->count(); ++i) {
        auto* pPage = static_cast<CPropertyPage*>(m_pTabs->widget(i));
        if (pPage->WasShown()) {
            pPage->OnConfirm(m_core);
            pPage->SetModified(false);
        }
    }
    return true;
}

void COptions::accept() {
    if (Confirm())
        QDialog::accept();
}

void COptions::OnApply() {
    Confirm();
}

void COptions::UpdateApply() {
    bool bModified = false;
    for (int i = 0; i < m_pTabs->count(); ++i)
        bModified = bModified || static_cast<CPropertyPage*>(m_pTabs->widget(i))->IsModified();
    m_pApply->setEnabled(bModified);
}
