#include "MainFrameBase.h"

#include "MessageBox.h"

#include <QAction>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QStatusBar>

namespace {
// What the prompt pane is, as a screen reader says before its text.
const char* const kMessageName = "Status";
} // namespace

CMainFrameBase::CMainFrameBase(const QIcon& icon, const QString& strProgram,
                               const QString& strHelpFolder)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint),
      m_strProgram(strProgram), m_strHelpFolder(strHelpFolder) {
    setWindowIcon(icon);
    setAttribute(Qt::WA_QuitOnClose);
}

// The help window is a window of its own, not a child: it goes with the frame.
CMainFrameBase::~CMainFrameBase() {
    delete m_pHelp;
}

void CMainFrameBase::AddCommands(std::initializer_list<Command> commands) {
    for (const Command& command : commands) {
        auto* pAction = new QAction(command.pszText, this);
        pAction->setObjectName(QString::number(command.nId));
        pAction->setProperty("commandId", command.nId);
        const QStringList parts = QString(command.pszPrompt).split('\n');
        pAction->setStatusTip(parts.value(0));
        if (parts.size() > 1)
            pAction->setToolTip(parts.value(1));
        if (*command.pszKey)
            pAction->setShortcut(QKeySequence(command.pszKey));
        if (*command.pszWhatsThis)
            pAction->setWhatsThis(command.pszWhatsThis);
        if (command.onTriggered)
            connect(pAction, &QAction::triggered, this, command.onTriggered);
        m_actions.insert(command.nId, pAction);
    }
}

QList<QMenu*> CMainFrameBase::AddMenus(const char* pszWhatsThis,
                                       std::initializer_list<Menu> menus) {
    menuBar()->setAccessibleName("Menu bar");
    menuBar()->setWhatsThis(pszWhatsThis);
    QList<QMenu*> added;
    for (const Menu& menu : menus) {
        QMenu* pMenu = menuBar()->addMenu(menu.pszTitle);
        for (int nId : menu.commands) {
            if (nId == 0)
                pMenu->addSeparator();
            else
                pMenu->addAction(Action(nId));
        }
        // A popup is named by its window title, which menus leave empty.
        pMenu->setAccessibleName(pMenu->title().remove('&'));
        added << pMenu;
    }
    return added;
}

void CMainFrameBase::AddMessagePane(const QString& strPrompt, const char* pszWhatsThis) {
    statusBar()->setObjectName("59393");
    statusBar()->setAccessibleName("Status bar");
    statusBar()->setWhatsThis(pszWhatsThis);
    statusBar()->setSizeGripEnabled(false);
    m_pMessage = new QLabel;
    SetMessagePaneText(strPrompt);
    m_pMessage->setWhatsThis(pszWhatsThis);
    statusBar()->addWidget(m_pMessage, 1);
}

void CMainFrameBase::SetMessagePaneText(const QString& strText) {
    SetPaneText(m_pMessage, kMessageName, strText);
}

void CMainFrameBase::SetPaneText(QLabel* pPane, const char* pszWhat, const QString& strText) {
    pPane->setText(strText);
    pPane->setAccessibleName(QString("%1: %2").arg(QLatin1String(pszWhat), strText));
    pPane->setAccessibleDescription(strText);
}

void CMainFrameBase::SetDocumentTitle(const QString& strTitle) {
    setWindowTitle(strTitle.isEmpty() ? m_strProgram : strTitle + " - " + m_strProgram);
}

void CMainFrameBase::RecalcLayout() {
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (layout())
        layout()->activate();
    adjustSize();
    setFixedSize(sizeHint());
}

void CMainFrameBase::ShowHelp(const QString& strTopic) {
    if (IsHeadless())
        return;
    if (!m_pHelp) {
        m_pHelp = new CHelpWindow(m_strProgram + " Help", m_strHelpFolder, kHelpContents);
        m_pHelp->setWindowIcon(windowIcon());
    }
    m_pHelp->ShowTopic(strTopic);
}
