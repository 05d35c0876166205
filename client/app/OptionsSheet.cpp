#include "OptionsSheet.h"

#include "DialogUnits.h"
#include "SkifferIcon.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

QString DirectoryWithSeparator(const QString& strPath) {
    if (strPath.isEmpty() || strPath.endsWith(QDir::separator()))
        return strPath;
    return strPath + QDir::separator();
}

CPathPage::CPathPage(int nDialogId, const QString& strCaption, const QString& strBox,
                     const QString& strPathName)
    : m_strCaption(strCaption) {
    setObjectName(QString::number(nDialogId));
    const CDialogUnits du(font());
    auto* pGroup = new QGroupBox("File Path", this);
    pGroup->setGeometry(du.Rect(7, 4, 186, 30));
    m_pPath = new QLineEdit(this);
    m_pPath->setObjectName("1005");
    m_pPath->setAccessibleName(strPathName);
    m_pPath->setGeometry(du.Rect(14, 15, 172, 12).adjusted(0, -1, 0, 2));
    m_pFlag = new QCheckBox(strBox, this);
    m_pFlag->setObjectName("1007");
    m_pFlag->setAccessibleName(strBox);
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
    : CPathPage(111, "Inbound", "Overwrite exisiting files", "Inbound file path") {}

COutgoingPage::COutgoingPage()
    : CPathPage(112, "Outbound", "Truncate long filenames", "Outbound file path") {}

// ---------------------------------------------------------------------------

COptionsSheet::COptionsSheet(QWidget* pParent) : QDialog(pParent) {
    setObjectName("110");
    setWindowTitle("File Locations & Options");
    m_pIncoming = new CIncomingPage;
    m_pOutgoing = new COutgoingPage;
    m_pTabs = new QTabWidget;
    m_pTabs->setAccessibleName("Pages");
    m_pTabs->addTab(m_pIncoming, m_pIncoming->Caption());
    m_pTabs->addTab(m_pOutgoing, m_pOutgoing->Caption());
    m_pTabs->setCurrentIndex(0);

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    pButtons->button(QDialogButtonBox::Ok)->setObjectName("1");
    pButtons->button(QDialogButtonBox::Cancel)->setObjectName("2");
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
    m_pTabs->setCurrentIndex(1);

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
