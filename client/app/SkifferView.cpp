#include "SkifferView.h"

#include "AsyncSocket.h"
#include "DialogUnits.h"
#include "HelpWindow.h"
#include "MessageBox.h"
#include "ModalDialog.h"
#include "SkifferCore.h"
#include "SkifferIcon.h"
#include "Tftp.h"
#include "TransferSocket.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <climits>

namespace {
constexpr int kFormWidth = 250;
constexpr int kFormHeight = 106;
constexpr int kMinBlock = 64;
constexpr int kMaxBlock = 65420;
constexpr int kDefaultPort = 69;
constexpr int kDefaultTimeout = 30;

int LeadingNumber(const QString& strText) {
    return static_cast<int>(tftp::LeadingDigits(strText.toLatin1(), INT_MAX));
}

bool IsAsciiLetterOrDigit(QChar c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Writes a control only when its text differs, so that the caret of the
// field being typed in stays where it is.
void SetEditText(QLineEdit* pEdit, const QString& strText) {
    if (pEdit->text() != strText)
        pEdit->setText(strText);
}
} // namespace

bool CSkifferDoc::OnOpenDocument(const QString& strPath) {
    if (m_pView)
        m_pView->SendFile(strPath);
    return false;
}

// ---------------------------------------------------------------------------

CBlockSizeDlg::CBlockSizeDlg(QWidget* pParent) : QDialog(pParent) {
    setObjectName("136");
    setWindowTitle("Transmission block size error");
    auto* pText = new QLabel(kText);
    pText->setWordWrap(true);
    pText->setAccessibleName("Block size error");
    setWhatsThis("The Block Size box held a size outside 64 to 65420; this transfer uses 512.");
    AddWhatsThisKey(this);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok);
    pButtons->button(QDialogButtonBox::Ok)->setObjectName("1");
    pButtons->button(QDialogButtonBox::Ok)
        ->setWhatsThis("Closes this message; the transfer goes ahead with 512-byte blocks.");
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(pText);
    pLayout->addWidget(pButtons);
    const CDialogUnits du(font());
    pText->setMinimumWidth(du.X(200));
    pLayout->setSizeConstraint(QLayout::SetFixedSize);
}

// ---------------------------------------------------------------------------

CSkifferView::CSkifferView(CSkifferCore& core) : m_core(core) {
    setObjectName("101");
    const CDialogUnits du(font());

    setWhatsThis("The form for one transfer: the server, the file's names and how it moves.");
    QLabel* pLabels[] = {
        AddLabel("Host", du.Rect(5, 7, 40, 8)),
        AddLabel("Port", du.Rect(126, 7, 18, 8)),
        AddLabel("Timeout", du.Rect(5, 23, 40, 8)),
        AddLabel("Local File", du.Rect(5, 41, 42, 8)),
        AddLabel("Remote File", du.Rect(5, 57, 42, 8)),
    };
    m_pHost = AddEdit(1000, "Host", du.Rect(48, 5, 72, 12));
    m_pPort = AddEdit(1001, "Port", du.Rect(146, 5, 36, 12));
    m_pTimeout = AddEdit(1003, "Timeout", du.Rect(48, 21, 30, 12));
    m_pSendTimeout = AddBox(1035, "Send timeout to Server", du.Rect(86, 22, 96, 10));
    m_pLocal = AddEdit(1002, "Local File", du.Rect(48, 39, 134, 12));
    m_pRemote = AddEdit(1007, "Remote File", du.Rect(48, 55, 134, 12));
    m_pMatch = AddBox(1008, "Match Files", du.Rect(48, 72, 52, 10));
    m_pBinary = AddBox(1006, "Binary", du.Rect(104, 72, 40, 10));

    m_pSend = AddButton(1004, "Send", du.Rect(192, 5, 52, 14));
    m_pGet = AddButton(1005, "Get", du.Rect(192, 22, 52, 14));
    auto* pGroup = new QGroupBox("Block Size", this);
    pGroup->setGeometry(du.Rect(192, 39, 52, 29));
    m_pBlockSize = new QComboBox(this);
    m_pBlockSize->setObjectName("1019");
    m_pBlockSize->setAccessibleName("Block Size");
    m_pBlockSize->setEditable(true);
    m_pBlockSize->setInsertPolicy(QComboBox::NoInsert);
    m_pBlockSize->addItems({"64", "128", "256", "512", "1024", "2048", "4096", "8192", "12250"});
    m_pBlockSize->setGeometry(du.Rect(197, 51, 42, 13));
    m_pBlockSize->lineEdit()->setAccessibleName("Block Size");
    m_pBlockSize->view()->setAccessibleName("Block Sizes");
    m_pAbort = AddButton(32773, "Abort", du.Rect(192, 72, 52, 14));
    m_pAbort->setEnabled(false);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName("1017");
    m_progress->setAccessibleName("Progress");
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setGeometry(du.Rect(5, 91, 239, 10));

    m_pPicture = new QLabel(this);
    m_pPicture->setObjectName("135");
    m_pPicture->setAccessibleName("Skiffer");
    m_pPicture->setPixmap(SkifferPicture());
    m_pPicture->adjustSize();
    const QRect room = du.Rect(146, 69, 40, 18);
    m_pPicture->move(room.center() - m_pPicture->rect().center());

    setFixedSize(du.X(kFormWidth), du.Y(kFormHeight));

    m_pHost->setWhatsThis("Host: the server's address, four numbers separated by dots such as "
                          "192.168.1.10. Names are not looked up.");
    m_pPort->setWhatsThis("Port: the server's UDP port, 69 unless the server uses another.");
    m_pTimeout->setWhatsThis("Timeout: the seconds to wait for the server. With no answer for "
                             "that long the transfer is given up (\"Timed out\").");
    m_pSendTimeout->setWhatsThis("When ticked, the server is asked to use the same time-out "
                                 "before it sends a packet again.");
    m_pLocal->setWhatsThis("Local File: the file's name here, in the Outbound folder when "
                           "sending and the Inbound folder when fetching (Options, Setup).");
    m_pRemote->setWhatsThis("Remote File: the file's name on the server.");
    m_pMatch->setWhatsThis("While ticked, Remote File follows what you type in Local File. "
                           "Typing in Remote File unticks it.");
    m_pBinary->setWhatsThis("Ticked: the file moves byte for byte. Not ticked: text mode, in "
                            "which line ends are converted; for plain text only.");
    m_pSend->setWhatsThis("Sends the local file to the server under the remote name. Options, "
                          "Rename Buttons calls it Put.");
    m_pGet->setWhatsThis("Fetches the remote file from the server into the local file. Options, "
                         "Rename Buttons calls it Get.");
    const char* const pszBlockHelp =
        "Block Size: the bytes in each packet, 64 to 65420. 512 works with every server; the box "
        "shows the size the server agreed to.";
    pGroup->setWhatsThis(pszBlockHelp);
    m_pBlockSize->setWhatsThis(pszBlockHelp);
    m_pAbort->setWhatsThis("Stops the running transfer at once; the server is not told.");
    m_progress->setWhatsThis("How much of the file has moved. When fetching, the bar moves only "
                             "if the server tells the file's size.");
    m_pPicture->setWhatsThis("The skiff. It does nothing; drop a file anywhere on the window to "
                             "send it.");
    const QLineEdit* pLabelled[] = {m_pHost, m_pPort, m_pTimeout, m_pLocal, m_pRemote};
    for (int i = 0; i < 5; ++i)
        pLabels[i]->setWhatsThis(pLabelled[i]->whatsThis());

    connect(m_pLocal, &QLineEdit::textEdited, this, &CSkifferView::OnLocalChanged);
    connect(m_pRemote, &QLineEdit::textEdited, this, &CSkifferView::OnRemoteChanged);
    connect(m_pMatch, &QCheckBox::clicked, this, &CSkifferView::OnMatchFiles);
    connect(m_pSend, &QPushButton::clicked, this, &CSkifferView::OnSend);
    connect(m_pGet, &QPushButton::clicked, this, &CSkifferView::OnGet);
    connect(m_pAbort, &QPushButton::clicked, this, &CSkifferView::OnAbort);
}

// The transfer goes with the view: its file is closed, and the server is
// told nothing.
CSkifferView::~CSkifferView() = default;

QLabel* CSkifferView::AddLabel(const QString& text, const QRect& rect) {
    auto* pLabel = new QLabel(text, this);
    pLabel->setGeometry(rect.adjusted(0, -2, 0, 2));
    return pLabel;
}

QLineEdit* CSkifferView::AddEdit(int nId, const QString& name, const QRect& rect) {
    auto* pEdit = new QLineEdit(this);
    pEdit->setObjectName(QString::number(nId));
    pEdit->setAccessibleName(name);
    pEdit->setGeometry(rect.adjusted(0, -1, 0, 2));
    return pEdit;
}

QCheckBox* CSkifferView::AddBox(int nId, const QString& text, const QRect& rect) {
    auto* pBox = new QCheckBox(text, this);
    pBox->setObjectName(QString::number(nId));
    pBox->setAccessibleName(text);
    pBox->adjustSize();
    pBox->move(rect.x(), rect.center().y() - pBox->height() / 2);
    return pBox;
}

QPushButton* CSkifferView::AddButton(int nId, const QString& text, const QRect& rect) {
    auto* pButton = new QPushButton(text, this);
    pButton->setObjectName(QString::number(nId));
    pButton->setGeometry(rect.adjusted(0, -1, 0, 1));
    pButton->setAutoDefault(false);
    return pButton;
}

void CSkifferView::OnInitialUpdate() {
    SetButtonNames(m_core.m_bChangeButtons);
    m_strLocalFile = m_core.m_strLocal;
    m_strRemoteFile = m_core.m_strRemote;
    m_strHostField = m_core.m_strHost;
    UpdateData(false);
    m_pLocal->setCursorPosition(0);
    m_pRemote->setCursorPosition(0);
    m_pBlockSize->setCurrentIndex(3);
}

void CSkifferView::UpdateData(bool bSaveAndValidate) {
    if (bSaveAndValidate) {
        m_bBinary = m_pBinary->isChecked() ? 1 : 0;
        m_bMatchFiles = m_pMatch->isChecked() ? 1 : 0;
        m_strLocalFile = m_pLocal->text();
        m_strRemoteFile = m_pRemote->text();
        m_strHostField = m_pHost->text();
        m_strPortField = m_pPort->text();
        m_strTimeoutField = m_pTimeout->text();
        m_bSendTimeout = m_pSendTimeout->isChecked() ? 1 : 0;
        return;
    }
    m_pBinary->setChecked(m_bBinary != 0);
    m_pMatch->setChecked(m_bMatchFiles != 0);
    SetEditText(m_pLocal, m_strLocalFile);
    SetEditText(m_pRemote, m_strRemoteFile);
    SetEditText(m_pHost, m_strHostField);
    SetEditText(m_pPort, m_strPortField);
    SetEditText(m_pTimeout, m_strTimeoutField);
    m_pSendTimeout->setChecked(m_bSendTimeout != 0);
}

void CSkifferView::OnLocalChanged() {
    if (m_bMatchFiles != 1)
        return;
    UpdateData(true);
    m_strRemoteFile = m_strLocalFile;
    UpdateData(false);
}

void CSkifferView::OnRemoteChanged() {
    if (m_bMatchFiles != 1)
        return;
    UpdateData(true);
    m_bMatchFiles = 0;
    UpdateData(false);
}

void CSkifferView::OnMatchFiles() {
    UpdateData(true);
    if (m_bMatchFiles != 1)
        return;
    m_strRemoteFile = m_strLocalFile;
    UpdateData(false);
}

QString CSkifferView::ShortenName(const QString& strName) {
    QString strShort;
    qsizetype i = 0;
    int nTaken = 0;
    for (; i < strName.size() && strName[i] != '.' && nTaken < 8; ++i) {
        if (IsAsciiLetterOrDigit(strName[i])) {
            strShort += strName[i];
            ++nTaken;
        }
    }
    qsizetype nDot = strName.indexOf('.', i);
    if (nDot >= 0 && nDot + 1 < strName.size())
        strShort += '.' + strName.mid(nDot + 1, 3);
    return strShort;
}

int CSkifferView::ValidateForm() {
    UpdateData(true);
    if (m_strLocalFile.isEmpty())
        return 0;
    m_szLocal = m_strLocalFile.left(kMaxName);
    if (m_strRemoteFile.isEmpty())
        return 0;
    const QString strRemote = m_strRemoteFile.left(kMaxName);
    if (m_core.m_bTruncate) {
        m_szRemote = ShortenName(strRemote);
        m_strRemoteFile = m_szRemote;
        SetEditText(m_pRemote, m_strRemoteFile);
    } else {
        m_szRemote = strRemote;
    }

    m_szHost = m_strHostField.left(kMaxHost);
    in_addr address{};
    if (!ParseHostAddress(m_szHost, &address) || address.s_addr == INADDR_NONE ||
        address.s_addr == INADDR_ANY) {
        AfxMessageBox("Illegal I.P. for Host Address\nPlease be more diligent  :)");
        return 0;
    }
    m_nPort = LeadingNumber(m_strPortField);
    // Above 65535 no socket can reach it.
    if (m_nPort < 1 || m_nPort > 65535) {
        AfxMessageBox("Illegal port number specified\nport 69 will be used");
        m_nPort = kDefaultPort;
    }
    m_nTimeout = LeadingNumber(m_strTimeoutField);
    if (m_nTimeout == 0) {
        AfxMessageBox("Timeout set to 30 seconds");
        m_nTimeout = kDefaultTimeout;
    }
    m_core.m_strHost = m_szHost;
    m_core.m_strLocal = m_szLocal;
    m_core.m_strRemote = m_szRemote;
    m_nBlockSize = LeadingNumber(m_pBlockSize->currentText());
    if (m_nBlockSize < kMinBlock || m_nBlockSize > kMaxBlock) {
        CBlockSizeDlg dialog(window());
        DoModal(dialog);
        m_nBlockSize = tftp::kDefaultBlockSize;
        m_pBlockSize->setEditText("512");
    }
    m_core.SaveStartup();
    return 1;
}

bool CSkifferView::NewTransfer() {
    if (m_pTransfer && m_pTransfer->m_bActive)
        return false;
    m_pTransfer.reset();
    m_pTransfer = std::make_unique<CTransferSocket>(m_core, this);
    return true;
}

void CSkifferView::OnGet() {
    StartTransfer(0);
}

void CSkifferView::OnSend() {
    StartTransfer(1);
}

void CSkifferView::StartTransfer(int bSending) {
    if (!NewTransfer())
        return;
    m_pTransfer->CreateTransferSocket();
    if (!ValidateForm())
        return;
    m_pTransfer->m_bDroppedPath = 0;
    m_pTransfer->m_bSending = bSending;
    m_pTransfer->m_nTimeout = m_nTimeout;
    m_pTransfer->m_nBlockSize = m_nBlockSize;
    m_pTransfer->m_nWindowSize = m_core.m_nWindow;
    m_pTransfer->m_bSendTimeout = m_bSendTimeout;
    if (bSending)
        m_pTransfer->StartSend(m_szRemote, m_szLocal, m_szHost, m_nPort, m_bBinary, QString());
    else
        m_pTransfer->StartFetch(m_szRemote, m_szLocal, m_szHost, m_nPort, m_bBinary);
}

bool CSkifferView::SendFile(const QString& strPath) {
    if (!NewTransfer())
        return false;
    const qsizetype nSplit = strPath.lastIndexOf(QDir::separator());
    const QString strDir = strPath.left(nSplit + 1);
    const QString strName = strPath.mid(nSplit + 1);

    UpdateData(true);
    m_strLocalFile = strName;
    m_strRemoteFile = strName;
    m_bMatchFiles = 1;
    UpdateData(false);

    m_pTransfer->CreateTransferSocket();
    m_pTransfer->m_strDroppedDir = strDir;
    if (!ValidateForm())
        return false;
    m_pTransfer->m_bDroppedPath = 1;
    m_pTransfer->m_bSending = 1;
    m_pTransfer->m_nTimeout = m_nTimeout;
    m_pTransfer->m_bSendTimeout = m_bSendTimeout;
    m_pTransfer->m_nBlockSize = m_nBlockSize;
    m_pTransfer->m_nWindowSize = m_core.m_nWindow;
    return m_pTransfer->StartSend(m_szRemote, m_szLocal, m_szHost, m_nPort, m_bBinary, strName) !=
           0;
}

void CSkifferView::OnAbort() {
    if (m_pTransfer && m_pTransfer->m_bActive)
        m_pTransfer->EndTransfer(tftp::EndReason::Quietly);
    UpdateCommandUI();
}

bool CSkifferView::CanAbort() const {
    return m_pTransfer && m_pTransfer->m_bActive != 0;
}

void CSkifferView::UpdateCommandUI() {
    m_pAbort->setEnabled(CanAbort());
}

void CSkifferView::SetButtonNames(int bChangeButtons) {
    m_pSend->setText(bChangeButtons == 1 ? "Put" : "Send");
    m_pGet->setText(bChangeButtons == 1 ? "Get" : "Fetch");
}

void CSkifferView::OnProgress(ProgressKind kind, long nBytes) {
    if (kind == ProgressKind::Starts) {
        m_progress->setRange(0, 100);
        m_progress->setValue(0);
        m_nScale = nBytes / 100;
        if (m_nScale == 0)
            m_nScale = 1;
    } else {
        const long nPosition = nBytes / m_nScale;
        m_progress->setValue(static_cast<int>(std::min(nPosition, 100L)));
    }
}

void CSkifferView::OnBlockSize(int nBlockSize) {
    m_pBlockSize->setEditText(QString::number(nBlockSize));
}

void CSkifferView::OnAddressChosen(const QString& strAddress) {
    emit AddressChanged(strAddress);
}
