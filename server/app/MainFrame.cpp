#include "MainFrame.h"

#include "FrameCommands.h"
#include "HelpWindow.h"
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
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QWhatsThis>
#include <utility>

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

    // What's This (Shift+F1, or the toolbar's help button, then a click).
    pStop->setWhatsThis("Stop Serving (Ctrl+S): new clients are answered \"Service not "
                        "available\". If clients are being served, you choose whether to drop "
                        "them now or let them finish.");
    pStart->setWhatsThis("Start Serving (Ctrl+G): the server takes new clients again after "
                         "Stop Serving.");
    pExit->setWhatsThis("Ends the program. Running transfers stop; the settings are saved.");
    pSetup->setWhatsThis("Setup (Ctrl+U): opens Server Options, with the folders, the file "
                         "sent to everyone, the allow and deny lists, the port and the time-out.");
    pToolbar->setWhatsThis("Shows or hides the toolbar.");
    pStatus->setWhatsThis("Shows or hides the status bar at the bottom of the window.");
    pProgress->setWhatsThis("Progress View (Ctrl+V): switches the rows between progress bars "
                            "and byte counts with percentages. The choice is kept.");
    pHelpTopics->setWhatsThis("Help Topics (F1): opens the help window at its contents.");
    pAbout->setWhatsThis("About (Ctrl+A): shows the program's version and the maker's address.");
    pContextHelp->setWhatsThis("What's This (Shift+F1): click this, then any button, field or "
                               "row, to read what it is for.");

    pStop->setIcon(ToolIcon(ToolImage::StopServing));
    pStart->setIcon(ToolIcon(ToolImage::StartServing));
    pAbout->setIcon(ToolIcon(ToolImage::About));
    pContextHelp->setIcon(ToolIcon(ToolImage::ContextHelp));

    menuBar()->setAccessibleName("Menu bar");
    menuBar()->setWhatsThis("The menus: File stops and starts serving, System holds the "
                            "settings, View what the window shows, and Help this help.");
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
    for (QMenu* pMenu : {pFile, pSystem, pView, pHelp}) {
        connect(pMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
        // A popup is named by its window title, which menus leave empty.
        pMenu->setAccessibleName(pMenu->title().remove('&'));
    }

    m_pToolBar = new QToolBar("Standard", this);
    m_pToolBar->setObjectName("59392");
    m_pToolBar->setAccessibleName("Toolbar");
    m_pToolBar->setIconSize(QSize(16, 16));
    m_pToolBar->setWhatsThis("The toolbar: About, What's This, Switch Off (stop serving) and "
                             "Switch On (start serving).");
    m_pToolBar->addAction(pAbout);
    m_pToolBar->addAction(pContextHelp);
    m_pToolBar->addSeparator();
    m_pToolBar->addAction(pStop);
    m_pToolBar->addSeparator();
    m_pToolBar->addAction(pStart);
    addToolBar(Qt::TopToolBarArea, m_pToolBar);
    // A tool button is named by its action's text, shortcut and all; each
    // gets the short name of its picture. The button Qt shows when the
    // toolbar is too narrow for them all has none of its own.
    const std::pair<QAction*, const char*> buttons[] = {{pAbout, "About"},
                                                        {pContextHelp, "What's This"},
                                                        {pStop, "Stop Serving"},
                                                        {pStart, "Start Serving"}};
    for (const auto& [pAction, pszName] : buttons)
        m_pToolBar->widgetForAction(pAction)->setAccessibleName(pszName);
    if (auto* pMore = m_pToolBar->findChild<QToolButton*>("qt_toolbar_ext_button"))
        pMore->setAccessibleName("More buttons");

    m_pIdlePrompt = new QLabel("For Help, press F1 For the meaning of life, press Fz");
    statusBar()->setObjectName("59393");
    statusBar()->setAccessibleName("Status bar");
    // A screen reader says a label's name only: the name carries the text.
    m_pIdlePrompt->setAccessibleName("Status: " + m_pIdlePrompt->text());
    m_pIdlePrompt->setAccessibleDescription(m_pIdlePrompt->text());
    const char* const pszStatusHelp = "The status bar: it says what the highlighted menu entry "
                                      "or toolbar button does.";
    statusBar()->setWhatsThis(pszStatusHelp);
    m_pIdlePrompt->setWhatsThis(pszStatusHelp);
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
    ShowHelp("index.html");
}

void CMainFrame::ShowHelp(const QString& strTopic) {
    if (IsHeadless())
        return;
    if (!m_pHelp) {
        InitWharfkeepResources();
        m_pHelp = new CHelpWindow("Wharfkeep Help", ":/wharfkeep/help", "index.html");
        m_pHelp->setWindowIcon(windowIcon());
    }
    m_pHelp->ShowTopic(strTopic);
}

void CMainFrame::OnContextHelp() {
    QWhatsThis::enterWhatsThisMode();
}

void CMainFrame::OnFileOpen() {
    // The document holds no data: choosing a file changes nothing.
    if (!IsHeadless())
        QFileDialog::getOpenFileName(this);
}
