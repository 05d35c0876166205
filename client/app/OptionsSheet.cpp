#include "OptionsSheet.h"

#include "DialogUnits.h"
#include "HelpWindow.h"
#include "SkifferIcon.h"
#include "Tftp.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

QString DirectoryWithSeparator(const QString& strPath) {
    if (strPath.isEmpty() || strPath.endsWith(QDir::separator()))
        return strPath;
    return strPath + QDir::separator();
}

CPathPage::CPathPage(int nDialogId, const QString& strCaption, const QString& strBox,
                     const QString& strPathName, const QString& strPathHelp,
                     const QString& strBoxHelp)
    : m_strCaption(strCaption) {
    setObjectName(QString::number(nDialogId));
    const CDialogUnits du(font());
    auto* pGroup = new QGroupBox("File Path", this);
    pGroup->setWhatsThis(strPathHelp);
    pGroup->setGeometry(du.Rect(7, 4, 186, 30));
    m_pPath = new QLineEdit(this);
    m_pPath->setObjectName("1005");
    m_pPath->setAccessibleName(strPathName);
    m_pPath->setWhatsThis(strPathHelp);
    m_pPath->setGeometry(du.Rect(14, 15, 172, 12).adjusted(0, -1, 0, 2));
    m_pFlag = new QCheckBox(strBox, this);
    m_pFlag->setObjectName("1007");
    m_pFlag->setAccessibleName(strBox);
    m_pFlag->setWhatsThis(strBoxHelp);
    m_pFlag->adjustSize();
    m_pFlag->move(du.X(14), du.Y(42));
    setMinimumSize(du.X(200), du.Y(60));
}

void CPathPage::showEvent(QShowEvent* pEvent) {
    if (!m_bShown) {
        m_bShown = true;
        m_pFlag->setChecked(m_bFlag != 0);
        m_pPath->setText(m_strPath);
    }
    QWidget::showEvent(pEvent);
}

void CPathPage::SaveFields() {
    if (!m_bShown)
        return;
    m_bFlag = m_pFlag->isChecked() ? 1 : 0;
    m_strPath = m_pPath->text();
}

CIncomingPage::CIncomingPage()
    : CPathPage(111, "Inbound", "Overwrite exisiting files", "Inbound file path",
                "The folder fetched files are put in. Empty means the folder the program was "
                "started from.",
                "When ticked, a fetch replaces a local file of the same name without asking.") {
    setWhatsThis("Inbound: where fetched files go.");
}

COutgoingPage::COutgoingPage()
    : CPathPage(112, "Outbound", "Truncate long filenames", "Outbound file path",
                "The folder files are sent from when you press Send. Empty means the folder the "
                "program was started from.",
                "When ticked, remote names are cut to eight letters or digits, a dot and three "
                "characters, for servers that only take short names.") {
    setWhatsThis("Outbound: where sent files come from.");
}

namespace {
const char* const kWindowHelp =
    "Window: blocks the server may send, or take, before each acknowledgement (RFC 7440), 1 "
    "to 65535. 1 (the default) sends no window option and works with every server; 16 is "
    "many times faster with servers that know the option.";
} // namespace

CTransferPage::CTransferPage() {
    setObjectName("113");
    const CDialogUnits du(font());
    auto* pGroup = new QGroupBox("Window", this);
    pGroup->setWhatsThis(kWindowHelp);
    pGroup->setGeometry(du.Rect(7, 4, 45, 30));
    m_pWindow = new QLineEdit(this);
    m_pWindow->setObjectName("1010");
    m_pWindow->setAccessibleName("Window");
    m_pWindow->setWhatsThis(kWindowHelp);
    m_pWindow->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,5}"), m_pWindow));
    m_pWindow->setGeometry(du.Rect(17, 15, 25, 12).adjusted(0, -1, 0, 2));
    setMinimumSize(du.X(200), du.Y(60));
    setWhatsThis("Transfers: how many blocks go per acknowledgement.");
}

void CTransferPage::showEvent(QShowEvent* pEvent) {
    if (!m_bShown) {
        m_bShown = true;
        m_pWindow->setText(QString::number(m_nWindow));
    }
    QWidget::showEvent(pEvent);
}

void CTransferPage::SaveFields() {
    if (!m_bShown)
        return;
    const QString text = m_pWindow->text();
    // Out of range is brought to the nearest bound, as the profile is read.
    const auto n =
        text.isEmpty() ? 1ul : tftp::LeadingDigits(text.toLatin1(), tftp::kMaxWindowSize);
    m_nWindow = static_cast<int>(std::max<unsigned long>(n, tftp::kMinWindowSize));
}

// ---------------------------------------------------------------------------

COptionsSheet::COptionsSheet(QWidget* pParent) : QDialog(pParent) {
    setObjectName("110");
    setWindowTitle("File Locations & Options");
    m_pIncoming = new CIncomingPage;
    m_pOutgoing = new COutgoingPage;
    m_pTransfers = new CTransferPage;
    m_pTabs = new QTabWidget;
    m_pTabs->setAccessibleName("Pages");
    m_pTabs->addTab(m_pIncoming, m_pIncoming->Caption());
    m_pTabs->addTab(m_pOutgoing, m_pOutgoing->Caption());
    m_pTabs->addTab(m_pTransfers, m_pTransfers->Caption());
    m_pTabs->setTabWhatsThis(0, m_pIncoming->whatsThis());
    m_pTabs->setTabWhatsThis(1, m_pOutgoing->whatsThis());
    m_pTabs->setTabWhatsThis(2, m_pTransfers->whatsThis());
    m_pTabs->setCurrentIndex(0);
    setWhatsThis("File Locations & Options: the folders files are fetched into and sent from, "
                 "and the window asked of the server.");
    AddWhatsThisKey(this);

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    pButtons->button(QDialogButtonBox::Ok)->setObjectName("1");
    pButtons->button(QDialogButtonBox::Cancel)->setObjectName("2");
    pButtons->button(QDialogButtonBox::Ok)->setWhatsThis("Takes over the changes and saves them.");
    pButtons->button(QDialogButtonBox::Cancel)
        ->setWhatsThis("Closes the sheet; changes are "
                       "forgotten.");
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(m_pTabs);
    pLayout->addWidget(pButtons);
    pLayout->setSizeConstraint(QLayout::SetFixedSize);
}

void COptionsSheet::accept() {
    m_pIncoming->SaveFields();
    m_pOutgoing->SaveFields();
    m_pTransfers->SaveFields();
    QDialog::accept();
}

// ---------------------------------------------------------------------------

CAbout::CAbout() : QDialog(nullptr) {
    setObjectName("CAbout");
    setWindowTitle("About Skiffer Client");
    setWindowIcon(SkifferIcon());
    setAttribute(Qt::WA_QuitOnClose, false);

    auto* pMaker = new QLabel("Harnwick Software");
    auto* pWeb = new QLabel("www.harnwick.example");
    auto* pContact = new QLabel("Questions and reports: support@harnwick.example");

    m_pTabs = new QTabWidget;
    m_pTabs->setAccessibleName("Pages");
    m_pTabs->addTab(AboutPage(103, {pMaker, pWeb, pContact}), "The Company");
    m_pTabs->addTab(VersionPage(104, SkifferIcon(), "Skiffer TFTP Client", "Version 5.0",
                                {"For details see Help, Index."}),
                    "Version");
    m_pTabs->setTabWhatsThis(0, "The Company: the maker's addresses.");
    m_pTabs->setTabWhatsThis(1, "Version: the program's name and version.");
    m_pTabs->widget(0)->setWhatsThis(m_pTabs->tabWhatsThis(0));
    m_pTabs->widget(1)->setWhatsThis(m_pTabs->tabWhatsThis(1));
    m_pTabs->setCurrentIndex(1);
    setWhatsThis("About Skiffer Client: the version and the maker's addresses. Enter closes it.");
    AddWhatsThisKey(this);

    // No buttons: Enter (OK) or the close box ends the sheet.
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(m_pTabs);
    const CDialogUnits du(font());
    m_pTabs->setMinimumSize(du.X(200), du.Y(100));
    pLayout->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    CentreOnScreen(this);
}

// Enter, Escape and the close box all end here: the sheet goes for good.
void CAbout::done(int nResult) {
    QDialog::done(nResult);
    deleteLater();
}

void CAbout::keyPressEvent(QKeyEvent* pEvent) {
    // Enter is the sheet's OK, though it shows no button for it.
    if (pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    QDialog::keyPressEvent(pEvent);
}
