#pragma once

// The help checks both programs' suites run, each over its own program:
// the help commands open the help window at their page (and nothing opens
// without a screen), every link of every page lands where it points, every
// page is reached from the contents, and every control of the program's
// windows explains itself in What's This. A suite derives from HelpSuite,
// says what its program has, and adds only the checks that are its own.
#include "HelpChecks.h"

#include <memory>

namespace help_checks {

// One start of a program, as the shared checks drive it.
class ShownProgram {
public:
    virtual ~ShownProgram() = default;
    virtual QWidget* MainWindow() const = 0;
    virtual CHelpWindow* HelpWindow() const = 0;
    // Gives one of HelpProgram::commands, by its name.
    virtual void Give(const QString& strCommand) = 0;
    // Opens one of HelpProgram::windows, by its name, and returns it (not
    // yet shown); the program keeps it.
    virtual QWidget* Open(const QString& strWindow) = 0;
    // Whether the program still does what it did at the start (a click in
    // What's This mode only explains).
    virtual bool Undisturbed() const = 0;
};

struct HelpCommand {
    QString strName; // "F1", or the menu entry's
    QString strPage; // where the help window opens
    QString strTitle;
};

// What a program's help has.
struct HelpProgram {
    QString strFolder;      // the pages' resource folder
    QString strWindowTitle; // of the help window
    qsizetype nLeastPages;
    QString strElsewhere; // a topic read before the window is closed and asked for again
    QList<HelpCommand> commands;
    QStringList windows;
    QStringList closedByAnyKey; // windows where Shift+F1 cannot ask What's This
};

class HelpSuite : public QObject {
    Q_OBJECT
protected:
    explicit HelpSuite(HelpProgram program) : m_program(std::move(program)) {}
    // Registers the program's pages.
    virtual void LoadPages() = 0;
    // The program started as a user starts it, on a screen or without one.
    virtual std::unique_ptr<ShownProgram> Start(bool bScreen) = 0;

private slots:
    void initTestCase() { LoadPages(); }

    void helpCommandsOpenTheirPage_data();
    void helpCommandsOpenTheirPage();
    void nothingOpensWithoutAScreen_data();
    void nothingOpensWithoutAScreen();
    void everyLinkLeadsToAPage_data();
    void everyLinkLeadsToAPage();
    void everyPageIsReachableFromTheContents();
    // Shift+F1 (or a toolbar's help button), then a click on any control,
    // explains that control.
    void everyControlExplainsItself_data();
    void everyControlExplainsItself();

private:
    const HelpProgram m_program;
};

} // namespace help_checks
