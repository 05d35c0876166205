#include "MainFrame.h"

#include "FrameCommands.h"
#include "Icons.h"
#include "MessageBox.h"
#include "NotifyDialogs.h"
#include "WharfApp.h"
#include "WharfView.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QWhatsThis>

CMainFrame::CMainFrame(CWharfApp* pApp)
    : QMainWindow(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                               Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                               Qt::WindowCloseButtonHint),
      m_pApp(pApp) {
    setWindowIcon(WharfkeepIcon());
    setAttribute(Qt::WA_QuitOnClose);

    QAction* pStop =
        AddCommand(ID_STOP_SERVING, "&Stop Serving\tCtrl+S",
                   "Stops the server responding to clients\nSwitch Off", QKeySequence("Ctrl+S"));
    QAction* pStart =
        AddCommand(ID_START_SERVING, "S&tart Serving\tCtrl+G",
                   "Starts the server serving clients\nSwitch On", QKeySequence("Ctrl+G"));
    QAction* pExit = AddCommand(ID_APP_EXIT, "E&xit", "Quit the Server\nExit");
    QAction* pSetup =
        AddCommand(ID_SETUP, "Set&up\tCtrl+U", "Setup server parameters", QKeySequence("Ctrl+U"));
    QAction* pToolbar =
        AddCommand(ID_VIEW_TOOLBAR, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar");
    QAction* pStatus = AddCommand(ID_VIEW_STATUS_BAR, "&Status Bar",
                                  "Show or hide the status bar\nToggle StatusBar");
    QAction* pProgress = AddCommand(ID_PROGRESS_VIEW, "&Progress View\tCtrl+V",
                                    "Switch between view types", QKeySequence("Ctrl+V"));
    QAction* pHelpTopics = AddCommand(ID_HELP_FINDER, "&Help Topics\tF1",
                                      "List Help topics\nHelp Topics", QKeySequence("F1"));
    QAction* pAbout = AddCommand(ID_APP_ABOUT, "&About Wharfkeep...\tCtrl+A",
                                 "Display program information, version number and copyright\nAbout",
                                 QKeySequence("Ctrl+A"));
    QAction* pContextHelp = AddCommand(
        ID_CONTEXT_HELP, "Help", "Display help for clicked on buttons, menus and windows\nHelp",
        QKeySequence("Shift+F1"));
    QAction* pOpen = AddCommand(ID_FILE_OPEN, "&Open...", "Open an existing document\nOpen",
                                QKeySequence("Ctrl+O"));
    addAction(pOpen); // accelerator only, as in the menu-less commands of the frame

    pStop->setIcon(ToolIcon(ToolImage::StopServing));
    pStart->setIcon(ToolIcon(ToolImage::StartServing));
    pAbout->setIcon(ToolIcon(ToolImage::About));
    pContextHelp->setIcon(ToolIcon(ToolImage::ContextHelp));

    menuBar()->setAccessibleName("Menu bar");
    QMenu* pFile = menuBar()->addMenu("&File");
    pFile->addAction(pStop);
    pFile->addAction(pStart);
    pFile->addSeparator();
    pFile->addAction(pExit);
    QMenu* pSystem = menuBar()->addMenu("System");
    pSystem->addAction(pSetup);
    QMenu* pView = menuBar()->addMenu("&View");
    pView->addAction(pToolbar);
    pView->addAction(pStatus);
    pView->addSeparator();
    pView->addAction(pProgress);
    QMenu* pHelp = menuBar()->addMenu("&Help");
    pHelp->addAction(pHelpTopics);
    pHelp->addSeparator();
    pHelp->addAction(pAbout);
    addAction(pContextHelp);
    for (QMenu* pMenu : {pFile, pSystem, pView, pHelp})
        connect(pMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);

    m_pToolBar = new QToolBar("Standard", this);
    m_pToolBar->setObjectName("59392");
    m_pToolBar->setAccessibleName("Toolbar");
    m_pToolBar->setIconSize(QSize(16, 16));
    m_pToolBar->addAction(pAbout);
    m_pToolBar->addAction(pContextHelp);
    m_pToolBar->addSeparator();
    m_pToolBar->addAction(pStop);
    m_pToolBar->addSeparator();
    m_pToolBar->addAction(pStart);
    addToolBar(Qt::TopToolBarArea, m_pToolBar);

    m_pIdlePrompt = new QLabel("For Help, press F1 For the meaning of life, press Fz");
    statusBar()->setObjectName("59393");
    statusBar()->setAccessibleName("Status bar");
    m_pIdlePrompt->setAccessibleName("Status");
    statusBar()->setSizeGripEnabled(false);
    statusBar()->addWidget(m_pIdlePrompt, 1);

    pToolbar->setCheckable(true);
    pToolbar->setChecked(true);
    pStatus->setCheckable(true);
    pStatus->setChecked(true);
    connect(pToolbar, &QAction::toggled, this, [this](bool bOn) {
        m_pToolBar->setVisible(bOn);
        RecalcLayout();
    });
    connect(pStatus, &QAction::toggled, this, [this](bool bOn) {
        statusBar()->setVisible(bOn);
        RecalcLayout();
    });
    connect(m_pToolBar, &QToolBar::visibilityChanged, pToolbar, &QAction::setChecked);

    connect(pStop, &QAction::triggered, this, [this] { m_pApp->OnStopServing(); });
    connect(pStart, &QAction::triggered, this, [this] { m_pApp->OnStartServing(); });
    connect(pExit, &QAction::triggered, this, &QWidget::close);
    connect(pSetup, &QAction::triggered, this, [this] { m_pApp->OnSetup(); });
    connect(pProgress, &QAction::triggered, this, [this] { m_pApp->OnProgressView(); });
    connect(pAbout, &QAction::triggered, this, [this] { m_pApp->OnAbout(); });
    connect(pHelpTopics, &QAction::triggered, this, &CMainFrame::OnHelp);
    connect(pContextHelp, &QAction::triggered, this, &CMainFrame::OnContextHelp);
    connect(pOpen, &QAction::triggered, this, &CMainFrame::OnFileOpen);

    m_pView = new CWharfView;
    setCentralWidget(m_pView);
    UpdateCommandUI();
    CStartupSplash::ShowSplash(this);
}

QAction* CMainFrame::AddCommand(int nId, const QString& text, const QString& prompt,
                                const QKeySequence& key) {
    QAction* pAction = MakeCommand(this, nId, text, prompt, key);
    m_actions.insert(nId, pAction);
    return pAction;
}

void CMainFrame::SetDocumentTitle(const QString& strTitle) {
    setWindowTitle(strTitle + " - Wharfkeep");
}

void CMainFrame::UpdateCommandUI() {
    const int bServing = m_pApp->m_bServing;
    m_actions.value(ID_STOP_SERVING)->setEnabled(bServing == 1);
    m_actions.value(ID_START_SERVING)->setEnabled(bServing == 0);
}

void CMainFrame::RecalcLayout() {
    FitFrame(this);
}

void CMainFrame::OnHelp() {
    if (IsHeadless())
        return;
    QMessageBox::information(
        this, "Wharfkeep Help",
        "Wharfkeep serves files over TFTP.\n\n"
        "Each row shows one client: its address, whether the file is sent to it (Tx) or "
        "received from it (Rx), the file, its progress and whether it moves in binary "
        "(octet) mode.\n\n"
        "File, Stop Serving refuses new clients; Start Serving admits them again.\n"
        "System, Setup sets the folders, the port, the time-out and the address lists.\n"
        "View, Progress View switches between bars and byte counts.");
}

void CMainFrame::OnContextHelp() {
    QWhatsThis::enterWhatsThisMode();
}

void CMainFrame::OnFileOpen() {
    // The document holds no data: choosing a file changes nothing.
    if (!IsHeadless())
        QFileDialog::getOpenFileName(this);
}
