#include "MainFrame.h"

#include "FrameCommands.h"
#include "HelpWindow.h"
#include "MessageBox.h"
#include "Modal.h"
#include "SkifferApp.h"
#include "SkifferIcon.h"
#include "SkifferView.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QWhatsThis>
#include <ctime>

// Outside any namespace: the registration names a function at file scope.
static void InitHelpResources() {
    // Resources of a static library are registered by hand.
    static const bool bRegistered = [] {
        Q_INIT_RESOURCE(skiffer_help);
        return true;
    }();
    (void)bRegistered;
}

namespace {
const char* const kWindowTitle = "Skiffer";
// What the status panes are, as a screen reader says before their text.
const char* const kStatusName = "Status";
const char* const kClockName = "Time";

CMainFrame::FileChooser g_fileChooser;

QString ChooseFile(QWidget* pParent) {
    CModalScope scope;
    if (g_fileChooser)
        return g_fileChooser(pParent);
    if (IsHeadless())
        return QString();
    return QFileDialog::getOpenFileName(pParent, "Open");
}

// The local files among what is dragged, in the order given.
QStringList LocalFiles(const QMimeData* pData) {
    QStringList files;
    if (!pData || !pData->hasUrls())
        return files;
    for (const QUrl& url : pData->urls()) {
        if (url.isLocalFile())
            files << url.toLocalFile();
    }
    return files;
}

// A screen reader reads a pane by its name: the name says what the pane is
// and what it shows ("Status: Received 512 bytes (1 blocks) - Done"), the
// description holds the text alone. Setting them tells the reader of the
// change (Qt sends NameChanged and DescriptionChanged).
void SetPaneText(QLabel* pPane, const char* pszWhat, const QString& strText) {
    pPane->setText(strText);
    pPane->setAccessibleName(QString("%1: %2").arg(QLatin1String(pszWhat), strText));
    pPane->setAccessibleDescription(strText);
}
} // namespace

void CMainFrame::SetFileChooser(FileChooser chooser) {
    g_fileChooser = std::move(chooser);
}

CMainFrame::CMainFrame(CSkifferApp* pApp)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint),
      m_pApp(pApp) {
    setWindowIcon(SkifferIcon());
    setAttribute(Qt::WA_QuitOnClose);
    InitHelpResources();

    QAction* pSend = AddCommand(ID_FILE_OPEN, "&Send...\tCtrl+S", "Select a file to Send\nSend",
                                QKeySequence("Ctrl+S"));
    QAction* pAbort = AddCommand(ID_ABORT, "&Abort", "Abort the current transfer");
    QAction* pExit = AddCommand(ID_APP_EXIT, "E&xit", "Quit Skiffer Client\nExit");
    QAction* pSetup = AddCommand(ID_SETUP, "&Setup", "Set up transfer options");
    QAction* pRename = AddCommand(ID_RENAME_BUTTONS, "&Rename Buttons", "Change button names");
    QAction* pIndex = AddCommand(ID_HELP_INDEX, "&Index", "List Help topics");
    QAction* pUsing =
        AddCommand(ID_HELP_USING, "&Using Help", "Display instructions about how to use help");
    QAction* pAbout =
        AddCommand(ID_APP_ABOUT, "&About Skiffer...", "Display program information\nAbout");
    QAction* pHelp = AddCommand(ID_HELP, "Help", "", QKeySequence("F1"));
    QAction* pContextHelp = AddCommand(ID_CONTEXT_HELP, "Help", "", QKeySequence("Shift+F1"));
    AddCommand(ID_DEFAULT_HELP, "Help", "");
    addAction(pHelp);
    addAction(pContextHelp);
    // What's This (Shift+F1, then a click).
    pSend->setWhatsThis("Send... (Ctrl+S): choose a file; it is sent at once from where it lies, "
                        "under its own name.");
    pAbort->setWhatsThis("Stops the running transfer at once; the server is not told.");
    pExit->setWhatsThis("Ends the program. A running transfer stops.");
    pSetup->setWhatsThis("Opens File Locations & Options: the folders files are fetched into "
                         "and sent from, overwriting and short names.");
    pRename->setWhatsThis("Switches the transfer buttons between Send and Fetch and Put and Get. "
                          "They work the same.");
    pIndex->setWhatsThis("Opens the help window at its contents (F1).");
    pUsing->setWhatsThis("Opens the help page on how to use help.");
    pAbout->setWhatsThis("Shows the program's version and the maker's addresses.");

    menuBar()->setAccessibleName("Menu bar");
    menuBar()->setWhatsThis("The menus: File to send a chosen file, abort or end, Options for "
                            "the folders and button names, Help for this help.");
    QMenu* pFile = menuBar()->addMenu("&File");
    pFile->addAction(pSend);
    pFile->addSeparator();
    pFile->addAction(pAbort);
    pFile->addSeparator();
    pFile->addAction(pExit);
    QMenu* pOptions = menuBar()->addMenu("&Options");
    pOptions->addAction(pSetup);
    pOptions->addAction(pRename);
    QMenu* pHelpMenu = menuBar()->addMenu("&Help");
    pHelpMenu->addAction(pIndex);
    pHelpMenu->addAction(pUsing);
    pHelpMenu->addSeparator();
    pHelpMenu->addAction(pAbout);
    for (QMenu* pMenu : {pFile, pOptions, pHelpMenu}) {
        // A popup is named by its window title, which menus leave empty.
        pMenu->setAccessibleName(pMenu->title().remove('&'));
        connect(pMenu, &QMenu::aboutToShow, this, &CMainFrame::OnMenuOpened);
        connect(pMenu, &QMenu::aboutToHide, this, &CMainFrame::OnMenuClosed);
    }

    // Pane 0 stretches over what the clock leaves; pane 1 is the clock.
    statusBar()->setObjectName("59393");
    statusBar()->setAccessibleName("Status bar");
    statusBar()->setSizeGripEnabled(false);
    m_pMessage = new QLabel;
    SetPaneText(m_pMessage, kStatusName, kIdlePrompt);
    const char* const pszStatusHelp = "The status line: what the transfer is doing, the "
                                      "server's messages, or what the highlighted menu entry "
                                      "does.";
    statusBar()->setWhatsThis(pszStatusHelp);
    m_pMessage->setWhatsThis(pszStatusHelp);
    m_pMessage->setMinimumWidth(1);
    statusBar()->addWidget(m_pMessage, 1);
    m_pClock = new QLabel;
    m_pClock->setObjectName("113");
    m_pClock->setWhatsThis("The local time.");
    m_pClock->setAlignment(Qt::AlignCenter);
    statusBar()->addPermanentWidget(m_pClock);
    m_pStatusPace = new QTimer(this);
    m_pStatusPace->setSingleShot(true);
    m_pStatusPace->setInterval(kStatusPaceMs);
    connect(m_pStatusPace, &QTimer::timeout, this, [this] {
        if (m_bStatusPending) {
            m_bStatusPending = false;
            SetMessageText(m_strPendingStatus);
        }
    });
    UpdateClock();
    auto* pClockTimer = new QTimer(this);
    connect(pClockTimer, &QTimer::timeout, this, &CMainFrame::UpdateClock);
    pClockTimer->start(1000);

    connect(pSend, &QAction::triggered, this, &CMainFrame::OnFileSend);
    connect(pExit, &QAction::triggered, this, &QWidget::close);
    connect(pSetup, &QAction::triggered, this, [this] { m_pApp->OnSetup(); });
    connect(pRename, &QAction::triggered, this, [this] { m_pApp->OnRenameButtons(); });
    connect(pAbout, &QAction::triggered, this, [this] { m_pApp->OnAbout(); });
    connect(pIndex, &QAction::triggered, this, &CMainFrame::OnHelpIndex);
    connect(pHelp, &QAction::triggered, this, &CMainFrame::OnHelpIndex);
    connect(m_actions.value(ID_DEFAULT_HELP), &QAction::triggered, this, &CMainFrame::OnHelpIndex);
    connect(pUsing, &QAction::triggered, this, &CMainFrame::OnHelpUsing);
    connect(pContextHelp, &QAction::triggered, this, [] { QWhatsThis::enterWhatsThisMode(); });

    m_pView = new CSkifferView;
    m_pDoc = new CSkifferDoc(m_pView);
    m_pDoc->OnNewDocument();
    setCentralWidget(m_pView);
    connect(pAbort, &QAction::triggered, m_pView, &CSkifferView::OnAbort);
    connect(m_pView, &CSkifferView::AddressChanged, this, [this](const QString& strAddress) {
        m_pDoc->SetTitle(strAddress);
        UpdateFrameTitle();
    });
    UpdateFrameTitle();

    // Files dropped on any part of the window are sent, not pasted as text
    // into the field under the pointer.
    setAcceptDrops(true);
    for (QWidget* pChild : findChildren<QWidget*>())
        pChild->installEventFilter(this);
    UpdateCommandUI();
}

// The help window is a window of its own, not a child: it goes with the frame.
CMainFrame::~CMainFrame() {
    delete m_pHelp;
}

QAction* CMainFrame::AddCommand(int nId, const QString& text, const QString& prompt,
                                const QKeySequence& key) {
    QAction* pAction = MakeCommand(this, nId, text, prompt, key);
    m_actions.insert(nId, pAction);
    return pAction;
}

void CMainFrame::UpdateFrameTitle() {
    const QString strTitle = m_pDoc->GetTitle();
    setWindowTitle(strTitle.isEmpty() ? QString(kWindowTitle) : strTitle + " - " + kWindowTitle);
}

void CMainFrame::SetMessageText(const QString& strText) {
    if (m_pStatusPace->isActive()) {
        m_strPendingStatus = strText;
        m_bStatusPending = true;
        return;
    }
    SetPaneText(m_pMessage, kStatusName, strText);
    m_pMessage->repaint();
    m_pStatusPace->start();
}

void CMainFrame::UpdateCommandUI() {
    m_actions.value(ID_ABORT)->setEnabled(m_pView->CanAbort());
    m_pView->UpdateCommandUI();
}

void CMainFrame::RecalcLayout() {
    FitFrame(this);
}

void CMainFrame::UpdateClock() {
    char szTime[64] = {};
    const std::time_t tNow = std::time(nullptr);
    std::tm local{};
    localtime_r(&tNow, &local);
    std::strftime(szTime, sizeof szTime, "%X", &local);
    const QString strTime = QString::fromLocal8Bit(szTime);
    if (m_pClock->text() == strTime)
        return;
    SetPaneText(m_pClock, kClockName, strTime);
    // As wide as the text in the bar's font, with the pane's margins.
    const int nWidth = QFontMetrics(statusBar()->font()).horizontalAdvance(strTime) + 8;
    if (m_pClock->minimumWidth() != nWidth)
        m_pClock->setFixedWidth(nWidth);
}

void CMainFrame::OnMenuOpened() {
    // Long prompts get the whole bar while a menu is open.
    if (m_nOpenMenus++ == 0)
        m_pClock->hide();
}

void CMainFrame::OnMenuClosed() {
    if (m_nOpenMenus > 0 && --m_nOpenMenus == 0) {
        m_pClock->show();
        // The prompt goes, and the idle prompt comes back in its place.
        SetMessageText(kIdlePrompt);
    }
}

void CMainFrame::OnFileSend() {
    const QString strPath = ChooseFile(this);
    if (!strPath.isEmpty())
        m_pDoc->OnOpenDocument(strPath);
    UpdateCommandUI();
}

void CMainFrame::OnHelpIndex() {
    ShowHelp("index.html");
}

void CMainFrame::OnHelpUsing() {
    ShowHelp("using-help.html");
}

void CMainFrame::ShowHelp(const QString& strTopic) {
    if (IsHeadless())
        return;
    if (!m_pHelp) {
        m_pHelp = new CHelpWindow("Skiffer Help", ":/skiffer/help", "index.html");
        m_pHelp->setWindowIcon(windowIcon());
    }
    m_pHelp->ShowTopic(strTopic);
}

bool CMainFrame::DropFiles(QDropEvent* pEvent) {
    const QStringList files = LocalFiles(pEvent->mimeData());
    if (files.isEmpty())
        return false;
    pEvent->acceptProposedAction();
    activateWindow();
    // Each in turn: once one has started, the others find it running.
    for (const QString& strPath : files)
        m_pDoc->OnOpenDocument(strPath);
    UpdateCommandUI();
    return true;
}

bool CMainFrame::eventFilter(QObject* pWatched, QEvent* pEvent) {
    switch (pEvent->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* pDrag = static_cast<QDragMoveEvent*>(pEvent);
        if (LocalFiles(pDrag->mimeData()).isEmpty())
            break;
        pDrag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop:
        if (DropFiles(static_cast<QDropEvent*>(pEvent)))
            return true;
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(pWatched, pEvent);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* pEvent) {
    if (!LocalFiles(pEvent->mimeData()).isEmpty())
        pEvent->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* pEvent) {
    DropFiles(pEvent);
}
