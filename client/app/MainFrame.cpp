#include "MainFrame.h"

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
#include <QMenu>
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
// What the clock pane is, as a screen reader says before its text.
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
} // namespace

void CMainFrame::SetFileChooser(FileChooser chooser) {
    g_fileChooser = std::move(chooser);
}

CMainFrame::CMainFrame(CSkifferApp* pApp)
    : CMainFrameBase(SkifferIcon(), "Skiffer", ":/skiffer/help"), m_pApp(pApp) {
    InitHelpResources();
    const auto showContents = [this] { ShowHelp(kHelpContents); };
    AddCommands({
        {ID_FILE_OPEN, "&Send...\tCtrl+S", "Select a file to Send\nSend", "Ctrl+S",
         "Send... (Ctrl+S): choose a file; it is sent at once from where it lies, under its own "
         "name.",
         [this] { OnFileSend(); }},
        {ID_ABORT, "&Abort", "Abort the current transfer", "",
         "Stops the running transfer at once; the server is not told."},
        {ID_APP_EXIT, "E&xit", "Quit Skiffer Client\nExit", "",
         "Ends the program. A running transfer stops.", [this] { close(); }},
        {ID_SETUP, "&Setup", "Set up transfer options", "",
         "Opens File Locations & Options: the folders files are fetched into and sent from, "
         "overwriting and short names.",
         [this] { m_pApp->OnSetup(); }},
        {ID_RENAME_BUTTONS, "&Rename Buttons", "Change button names", "",
         "Switches the transfer buttons between Send and Fetch and Put and Get. They work the "
         "same.",
         [this] { m_pApp->OnRenameButtons(); }},
        {ID_HELP_INDEX, "&Index", "List Help topics", "",
         "Opens the help window at its contents (F1).", showContents},
        {ID_HELP_USING, "&Using Help", "Display instructions about how to use help", "",
         "Opens the help page on how to use help.", [this] { ShowHelp("using-help.html"); }},
        {ID_APP_ABOUT, "&About Skiffer...", "Display program information\nAbout", "",
         "Shows the program's version and the maker's addresses.", [this] { m_pApp->OnAbout(); }},
        {ID_HELP, "Help", "", "F1", "", showContents},
        {ID_CONTEXT_HELP, "Help", "", "Shift+F1", "", &QWhatsThis::enterWhatsThisMode},
        {ID_DEFAULT_HELP, "Help", "", "", "", showContents},
    });
    // Accelerators only.
    addActions({Action(ID_HELP), Action(ID_CONTEXT_HELP)});
    const QList<QMenu*> menus = AddMenus(
        "The menus: File to send a chosen file, abort or end, Options for the folders and button "
        "names, Help for this help.",
        {{"&File", {ID_FILE_OPEN, 0, ID_ABORT, 0, ID_APP_EXIT}},
         {"&Options", {ID_SETUP, ID_RENAME_BUTTONS}},
         {"&Help", {ID_HELP_INDEX, ID_HELP_USING, 0, ID_APP_ABOUT}}});
    for (QMenu* pMenu : menus) {
        connect(pMenu, &QMenu::aboutToShow, this, &CMainFrame::OnMenuOpened);
        connect(pMenu, &QMenu::aboutToHide, this, &CMainFrame::OnMenuClosed);
    }
    AddPanes();

    m_pView = new CSkifferView(*m_pApp);
    m_pDoc = new CSkifferDoc(m_pView);
    m_pDoc->OnNewDocument();
    setCentralWidget(m_pView);
    connect(Action(ID_ABORT), &QAction::triggered, m_pView, &CSkifferView::OnAbort);
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

// Pane 0 stretches over what the clock leaves; pane 1 is the clock.
void CMainFrame::AddPanes() {
    AddMessagePane(kIdlePrompt, "The status line: what the transfer is doing, the server's "
                                "messages, or what the highlighted menu entry does.");
    MessagePane()->setMinimumWidth(1);
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
}

void CMainFrame::UpdateFrameTitle() {
    SetDocumentTitle(m_pDoc->GetTitle());
}

void CMainFrame::SetMessageText(const QString& strText) {
    if (m_pStatusPace->isActive()) {
        m_strPendingStatus = strText;
        m_bStatusPending = true;
        return;
    }
    SetMessagePaneText(strText);
    MessagePane()->repaint();
    m_pStatusPace->start();
}

void CMainFrame::UpdateCommandUI() {
    Action(ID_ABORT)->setEnabled(m_pView->CanAbort());
    m_pView->UpdateCommandUI();
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
    return CMainFrameBase::eventFilter(pWatched, pEvent);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* pEvent) {
    if (!LocalFiles(pEvent->mimeData()).isEmpty())
        pEvent->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* pEvent) {
    DropFiles(pEvent);
}
