#pragma once

#include "HelpWindow.h"

#include <QList>
#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <functional>
#include <initializer_list>

// Command ids both programs' frames carry, at the values their menus and
// help know them by.
enum SharedCommandId {
    ID_FILE_OPEN = 57601,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_CONTEXT_HELP = 57669,
    ID_HELP = 57670,
};

class QAction;
class QLabel;
class QMenu;

// What both programs' main windows have alike: sized to their form (no
// sizing border, no maximise box), menus made from a table of commands, a
// status bar whose first pane carries the prompts, and the program's help in
// a window beside them.
class CMainFrameBase : public QMainWindow {
    Q_OBJECT
public:
    ~CMainFrameBase() override;

    QAction* Action(int nCommandId) const { return m_actions.value(nCommandId); }
    // Pane 0 of the status bar.
    QLabel* MessagePane() const { return m_pMessage; }

    // Caption: the document's title, " - ", the program; the program alone
    // while there is no title.
    void SetDocumentTitle(const QString& strTitle);
    // Shrinks the frame around the form and keeps it at that size.
    void RecalcLayout();
    // Opens the help window at a page ("options.html#port"); with no screen
    // nothing opens.
    void ShowHelp(const QString& strTopic);
    CHelpWindow* HelpWindow() const { return m_pHelp; }

protected:
    // One command of the menus and accelerators. Its id is its object name;
    // the prompt's text before "\n" is its status-bar prompt, the text after
    // it its tool tip.
    struct Command {
        int nId;
        const char* pszText;
        const char* pszPrompt;
        const char* pszKey = "";
        const char* pszWhatsThis = "";
        std::function<void()> onTriggered = {};
    };
    // A menu of the menu bar: its commands in order, 0 for a separator.
    struct Menu {
        const char* pszTitle;
        QList<int> commands;
    };

    // strProgram: the caption's and the help window's name ("Skiffer");
    // strHelpFolder: the resource folder of the help pages.
    CMainFrameBase(const QIcon& icon, const QString& strProgram, const QString& strHelpFolder);

    void AddCommands(std::initializer_list<Command> commands);
    // The menu bar and its menus, in order; returns the menus.
    QList<QMenu*> AddMenus(const char* pszWhatsThis, std::initializer_list<Menu> menus);
    // The status bar and its pane 0, stretched over what later panes leave;
    // both answer What's This alike.
    void AddMessagePane(const QString& strPrompt, const char* pszWhatsThis);
    void SetMessagePaneText(const QString& strText);
    // A screen reader reads a pane by its name: the name says what the pane
    // is and what it shows ("Status: Received 512 bytes (1 blocks) - Done"),
    // the description holds the text alone. Setting them tells the reader of
    // the change (Qt sends NameChanged and DescriptionChanged).
    static void SetPaneText(QLabel* pPane, const char* pszWhat, const QString& strText);

    static constexpr const char* kHelpContents = "index.html";

private:
    QString m_strProgram;
    QString m_strHelpFolder;
    QMap<int, QAction*> m_actions;
    QLabel* m_pMessage = nullptr;
    QPointer<CHelpWindow> m_pHelp;
};
