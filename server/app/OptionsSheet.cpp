#include "OptionsSheet.h"

#include "DialogUnits.h"

#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {
// The settings file keeps texts of at most 999 characters; a longer one
// would be written but not read back at the next start.
constexpr int kMaxText = 999;

constexpr int kPageWidth = 183;
constexpr int kPageHeight = 94;

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
                             int h) {
    auto* pGroup = new QGroupBox(title, this);
    pGroup->setGeometry(du.Rect(x, y, w, h).adjusted(0, -du.Y(3), 0, du.Y(3)));
    pGroup->lower();
}

// ---------------------------------------------------------------------------

CInboundPage::CInboundPage() : CPropertyPage(103, "Inbound") {
    const CDialogUnits du(font());
    AddGroup(du, "Inbound file path", 5, 5, 170, 25);
    m_pPath = AddEdit(du, 1000, 10, 15, 160, 12);
    m_pPath->setAccessibleName("Inbound file path");
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
    AddGroup(du, "Outbound file path", 5, 5, 170, 25);
    m_pPath = AddEdit(du, 1002, 10, 15, 160, 12);
    m_pForce = AddBox(du, 1004, "Only Send This File", 5, 35);
    m_pForceFile = AddEdit(du, 1003, 5, 50, 160, 12);
    m_pPath->setAccessibleName("Outbound file path");
    m_pForceFile->setAccessibleName("Only Send This File");
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

CListPage::CListPage(int nDialogId, const QString& strCaption, const QString& strBox)
    : CPropertyPage(nDialogId, strCaption) {
    const CDialogUnits du(font());
    m_pFlag = AddBox(du, 1005, strBox, 5, 5);
    // Entries 1 and 2 on the first line, left and right, and so on.
    for (int i = 0; i < kListEntries; ++i) {
        m_pEntry[i] = AddEdit(du, 1006 + i, i % 2 == 0 ? 5 : 95, 20 + 15 * (i / 2), 85, 12);
        m_pEntry[i]->setAccessibleName(QString("%1 %2").arg(strCaption).arg(i + 1));
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

CAllow::CAllow() : CListPage(106, "Allow", "Only allow these connections") {}

void CAllow::LoadFields(const CWharfCore& core) {
    m_bFlag = core.m_bAllow;
    for (int i = 0; i < kListEntries; ++i)
        m_strEntry[i] = core.m_strAllow[i];
}

void CAllow::OnConfirm(CWharfCore& core) {
    ConfirmInto(core.m_bAllow, core.m_strAllow);
}

CDeny::CDeny() : CListPage(107, "Deny", "Do not allow these connections") {}

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
    AddGroup(du, "Use Port ", 5, 5, 45, 25);
    m_pPort = AddEdit(du, 1006, 15, 15, 25, 12);
    m_pPort->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), m_pPort));
    m_pPort->setAccessibleName("Use Port");
    AddGroup(du, "Timeout", 65, 5, 45, 25);
    m_pTimeout = AddEdit(du, 1007, 75, 15, 25, 12);
    m_pTimeout->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]*"), m_pTimeout));
    m_pTimeout->setAccessibleName("Timeout");
    const char* const texts[4] = {"Do not show multihomed request box",
                                  "Show alert box when minimised", "Allow tSize option request",
                                  "Allow timeout option request"};
    for (int i = 0; i < 4; ++i)
        m_pBox[i] = AddBox(du, 1035 + i, texts[i], 4, 40 + 12 * i);
}

void COther::LoadFields(const CWharfCore& core) {
    m_strPort = core.m_strPort;
    m_strTimeout = core.m_strTimeout;
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
        m_pTabs->addTab(pPage, pPage->Caption());
        connect(pPage, &CPropertyPage::ModifiedChanged, this, &COptions::UpdateApply);
    }
    m_pTabs->setCurrentIndex(0);

    auto* pOk = new QPushButton("OK");
    pOk->setObjectName("1");
    pOk->setDefault(true);
    auto* pCancel = new QPushButton("Cancel");
    pCancel->setObjectName("2");
    m_pApply = new QPushButton("&Apply");
    m_pApply->setObjectName(QString::number(kApplyId));
    m_pApply->setEnabled(false);
    m_pApply->setAutoDefault(false);
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
