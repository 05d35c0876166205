#include "HelpWindow.h"

#include "DialogUnits.h"

#include <QAction>
#include <QFile>
#include <QHBoxLayout>
#include <QStyle>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWhatsThis>

namespace {
// One look for every page of both programs, so the pages hold text only.
const char* const kPageStyle = "body { font-family: sans-serif; }\n"
                               "h1 { font-size: x-large; }\n"
                               "h2 { font-size: large; margin-top: 14px; }\n"
                               "dt { font-weight: bold; margin-top: 6px; }\n"
                               "pre { background-color: #f2f2ee; }\n"
                               "td { padding: 2px 6px; }\n"
                               ".key { font-weight: bold; }\n"
                               ".quote { background-color: #f2f2ee; margin-left: 12px; }\n";

QToolButton* MakeButton(QAction* pAction, const QString& strName) {
    auto* pButton = new QToolButton;
    pButton->setDefaultAction(pAction);
    pButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    pButton->setAccessibleName(strName);
    pButton->setObjectName(strName);
    return pButton;
}
} // namespace

CHelpWindow::CHelpWindow(const QString& strTitle, const QString& strFolder,
                         const QString& strContents)
    : QWidget(nullptr, Qt::Window), m_strFolder(strFolder) {
    setObjectName("HelpWindow");
    setWindowTitle(strTitle);
    setAccessibleName(strTitle);
    // Open help must not keep the program running once its main window closes.
    setAttribute(Qt::WA_QuitOnClose, false);
    m_contents = Resolved(QUrl(strContents));

    m_pContents = new QAction(style()->standardIcon(QStyle::SP_DirHomeIcon), "&Contents", this);
    m_pContents->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Home));
    m_pContents->setWhatsThis("Goes back to the contents page, the list of all help topics.");
    m_pBack = new QAction(style()->standardIcon(QStyle::SP_ArrowBack), "&Back", this);
    m_pBack->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    m_pBack->setWhatsThis("Goes back to the page you read before this one (Alt+Left).");
    m_pBack->setEnabled(false);
    m_pForward = new QAction(style()->standardIcon(QStyle::SP_ArrowForward), "&Forward", this);
    m_pForward->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Right));
    m_pForward->setWhatsThis("After Back, goes forward again to the page you came back from "
                             "(Alt+Right).");
    m_pForward->setEnabled(false);
    auto* pClose = new QAction("Close", this);
    pClose->setShortcut(QKeySequence(Qt::Key_Escape));
    addActions({m_pContents, m_pBack, m_pForward, pClose});

    m_pBrowser = new QTextBrowser;
    m_pBrowser->setObjectName("page");
    m_pBrowser->setAccessibleName("Help page");
    m_pBrowser->document()->setDefaultStyleSheet(kPageStyle);
    m_pBrowser->setWhatsThis("The help page. Click an underlined link to go to the topic it "
                             "names; Back returns to this page.");
    // Links are ours to judge: only the program's own pages are shown.
    m_pBrowser->setOpenExternalLinks(false);
    m_pBrowser->setOpenLinks(false);
    connect(m_pBrowser, &QTextBrowser::anchorClicked, this, &CHelpWindow::OnLink);
    connect(m_pBrowser, &QTextBrowser::backwardAvailable, m_pBack, &QAction::setEnabled);
    connect(m_pBrowser, &QTextBrowser::forwardAvailable, m_pForward, &QAction::setEnabled);
    connect(m_pContents, &QAction::triggered, this, [this] { m_pBrowser->setSource(m_contents); });
    connect(m_pBack, &QAction::triggered, m_pBrowser, &QTextBrowser::backward);
    connect(m_pForward, &QAction::triggered, m_pBrowser, &QTextBrowser::forward);
    connect(pClose, &QAction::triggered, this, &QWidget::close);

    auto* pButtons = new QHBoxLayout;
    pButtons->addWidget(MakeButton(m_pContents, "Contents"));
    pButtons->addWidget(MakeButton(m_pBack, "Back"));
    pButtons->addWidget(MakeButton(m_pForward, "Forward"));
    pButtons->addStretch();
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pButtons);
    pLayout->addWidget(m_pBrowser);

    const CDialogUnits du(font());
    resize(du.X(340), du.Y(300));
}

QUrl CHelpWindow::Resolved(const QUrl& url) const {
    const QUrl base =
        m_pBrowser && m_pBrowser->source().isValid() && !m_pBrowser->source().isEmpty()
            ? m_pBrowser->source()
            : QUrl("qrc" + m_strFolder + "/");
    return base.resolved(url);
}

bool CHelpWindow::IsOwnPage(const QUrl& url) const {
    const QUrl target = Resolved(url);
    const QString strPath = target.path();
    return target.scheme() == "qrc" && target.host().isEmpty() && target.userInfo().isEmpty() &&
           !target.hasQuery() && strPath.startsWith(m_strFolder.mid(1) + "/") &&
           strPath.endsWith(".html") && QFile::exists(":" + strPath);
}

void CHelpWindow::ShowTopic(const QString& strTopic) {
    const QUrl target = QUrl("qrc" + m_strFolder + "/").resolved(QUrl(strTopic));
    m_pBrowser->setSource(IsOwnPage(target) ? target : m_contents);
    if (!isVisible())
        CentreOnScreen(this);
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void CHelpWindow::OnLink(const QUrl& url) {
    // Anything but our own pages (web or mail addresses, files) stays shut.
    if (IsOwnPage(url))
        m_pBrowser->setSource(Resolved(url));
}

void AddWhatsThisKey(QWidget* pWindow) {
    auto* pAction = new QAction(pWindow);
    pAction->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1));
    QObject::connect(pAction, &QAction::triggered, [] { QWhatsThis::enterWhatsThisMode(); });
    pWindow->addAction(pAction);
}
