#include "MainFrame.h"

#include "Icons.h"
#include "MessageBox.h"
#include "NotifyDialogs.h"
#include "WharfApp.h"
#include "WharfView.h"

#include <QAction>
#include <QFileDialog>
#include <QMenu>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QWhatsThis>
#include <utility>

CMainFrame::CMainFrame(CWharfApp* pApp)
    : CMainFrameBase(WharfkeepIcon(), "Wharfkeep", ":/wharfkeep/help"), m_pApp(pApp) {
    AddCommands({
        {ID_STOP_SERVING, "&Stop Serving\tCtrl+S",
         "Stops the server responding to clients\nSwitch Off", "Ctrl+S",
         "Stop Serving (Ctrl+S): new clients are answered \"Service not available\". If "
         "clients are being served, you choose whether to drop them now or let them finish.",
         [this] { m_pApp->OnStopServing(); }},
        {ID_START_SERVING, "S&tart Serving\tCtrl+G", "Starts the server serving clients\nSwitch On",
         "Ctrl+G", "Start Serving (Ctrl+G): the server takes new clients again after Stop Serving.",
         [this] { m_pApp->OnStartServing(); }},
        {ID_APP_EXIT, "E&xit", "Quit the Server\nExit", "",
         "Ends the program. Running transfers stop; the settings are saved.", [this] { close(); }},
        {ID_SETUP, "Set&up\tCtrl+U", "Setup server parameters", "Ctrl+U",
         "Setup (Ctrl+U): opens Server Options, with the folders, the file sent to everyone, the "
         "allow and deny lists, the port and the time-out.",
         [this] { m_pApp->OnSetup(); }},
        {ID_VIEW_TOOLBAR, "&Toolbar", "Show or hide the toolbar\nToggle ToolBar", "",
         "Shows or hides the toolbar."},
        {ID_VIEW_STATUS_BAR, "&Status Bar", "Show or hide the status bar\nToggle StatusBar", "",
         "Shows or hides the status bar at the bottom of the window."},
        {ID_PROGRESS_VIEW, "&Progress View\tCtrl+V", "Switch between view types", "Ctrl+V",
         "Progress View (Ctrl+V): switches the rows between progress bars and byte counts with "
         "percentages. The choice is kept.",
         [this] { m_pApp->OnProgressView(); }},
        {ID_HELP_FINDER, "&Help Topics\tF1", "List Help topics\nHelp Topics", "F1",
         "Help Topics (F1): opens the help window at its contents.",
         [this] { ShowHelp(kHelpContents); }},
        {ID_APP_ABOUT, "&About Wharfkeep...\tCtrl+A",
         "Display program information, version number and copyright\nAbout", "Ctrl+A",
         "About (Ctrl+A): shows the program's version and the maker's address.",
         [this] { m_pApp->OnAbout(); }},
        {ID_CONTEXT_HELP, "Help", "Display help for clicked on buttons, menus and windows\nHelp",
         "Shift+F1",
         "What's This (Shift+F1): click this, then any button, field or row, to read what it is "
         "for.",
         &QWhatsThis::enterWhatsThisMode},
        // The document holds no data: choosing a file changes nothing.
        {ID_FILE_OPEN, "&Open...", "Open an existing document\nOpen", "Ctrl+O", "",
         [this] {
             if (!IsHeadless())
                 QFileDialog::getOpenFileName(this);
         }},
    });
    Action(ID_STOP_SERVING)->setIcon(ToolIcon(ToolImage::StopServing));
    Action(ID_START_SERVING)->setIcon(ToolIcon(ToolImage::StartServing));
    Action(ID_APP_ABOUT)->setIcon(ToolIcon(ToolImage::About));
    Action(ID_CONTEXT_HELP)->setIcon(ToolIcon(ToolImage::ContextHelp));

    const QList<QMenu*> menus = AddMenus(
        "The menus: File stops and starts serving, System holds the settings, View what the "
        "window shows, and Help this help.",
        {{"&File", {ID_STOP_SERVING, ID_START_SERVING, 0, ID_APP_EXIT}},
         {"System", {ID_SETUP}},
         {"&View", {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, 0, ID_PROGRESS_VIEW}},
         {"&Help", {ID_HELP_FINDER, 0, ID_APP_ABOUT}}});
    for (QMenu* pMenu : menus)
        connect(pMenu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
    // Accelerators only, as in the menu-less commands of the frame.
    addActions({Action(ID_FILE_OPEN), Action(ID_CONTEXT_HELP)});

    MakeToolBar();
    AddMessagePane("For Help, press F1 For the meaning of life, press Fz",
                   "The status bar: it says what the highlighted menu entry or toolbar button "
                   "does.");

    // The View menu's switches show and hide the bars, and the frame fits
    // what is left.
    const std::pair<int, QWidget*> bars[] = {{ID_VIEW_TOOLBAR, m_pToolBar},
                                             {ID_VIEW_STATUS_BAR, statusBar()}};
    for (const auto& [nId, pBar] : bars) {
        Action(nId)->setCheckable(true);
        Action(nId)->setChecked(true);
        connect(Action(nId), &QAction::toggled, this, [this, pBar](bool bOn) {
            pBar->setVisible(bOn);
            RecalcLayout();
        });
    }
    connect(m_pToolBar, &QToolBar::visibilityChanged, Action(ID_VIEW_TOOLBAR),
            &QAction::setChecked);

    m_pView = new CWharfView(*m_pApp);
    setCentralWidget(m_pView);
    UpdateCommandUI();
    CStartupSplash::ShowSplash(this);
}

void CMainFrame::MakeToolBar() {
    m_pToolBar = new QToolBar("Standard", this);
    m_pToolBar->setObjectName("59392");
    m_pToolBar->setAccessibleName("Toolbar");
    m_pToolBar->setIconSize(QSize(16, 16));
    m_pToolBar->setWhatsThis("The toolbar: About, What's This, Switch Off (stop serving) and "
                             "Switch On (start serving).");
    m_pToolBar->addAction(Action(ID_APP_ABOUT));
    m_pToolBar->addAction(Action(ID_CONTEXT_HELP));
    m_pToolBar->addSeparator();
    m_pToolBar->addAction(Action(ID_STOP_SERVING));
    m_pToolBar->addSeparator();
    m_pToolBar->addAction(Action(ID_START_SERVING));
    addToolBar(Qt::TopToolBarArea, m_pToolBar);
    // A tool button is named by its action's text, shortcut and all; each
    // gets the short name of its picture. The button Qt shows when the
    // toolbar is too narrow for them all has none of its own.
    const std::pair<int, const char*> buttons[] = {{ID_APP_ABOUT, "About"},
                                                   {ID_CONTEXT_HELP, "What's This"},
                                                   {ID_STOP_SERVING, "Stop Serving"},
                                                   {ID_START_SERVING, "Start Serving"}};
    for (const auto& [nId, pszName] : buttons)
        m_pToolBar->widgetForAction(Action(nId))->setAccessibleName(pszName);
    if (auto* pMore = m_pToolBar->findChild<QToolButton*>("qt_toolbar_ext_button"))
        pMore->setAccessibleName("More buttons");
}

void CMainFrame::UpdateCommandUI() {
    const int bServing = m_pApp->m_bServing;
    Action(ID_STOP_SERVING)->setEnabled(bServing == 1);
    Action(ID_START_SERVING)->setEnabled(bServing == 0);
}
