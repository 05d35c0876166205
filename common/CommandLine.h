#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

// What a program says about itself on its command line, answered before any
// window or settings file is touched, so that it works over ssh too.
struct ProgramUsage {
    QString strProgram;  // the command's name, "wharfkeep"
    QString strVersion;  // the line --version prints
    QString strSummary;  // what the program is, one line
    QString strOptions;  // the program's own options, one per line
    QString strSettings; // the settings file
    QString strLog;      // where messages and the log go
};

QString UsageText(const ProgramUsage& usage);

// --help and --version: prints the answer on standard output and returns
// the exit status (0); nullopt when neither was asked for.
std::optional<int> AnswerInfoArgument(int argc, char** argv, const ProgramUsage& usage);

// True when a window system can be reached: DISPLAY or WAYLAND_DISPLAY set.
bool HasDisplay();
// True when the user named Qt's platform (QT_QPA_PLATFORM or -platform).
bool PlatformChosen(int argc, char** argv);

// After the application has taken Qt's own options from the arguments: an
// argument nobody knows gets the usage on standard error and exit status 2.
std::optional<int> RejectUnknownArguments(const QStringList& arguments, const QStringList& known,
                                          const ProgramUsage& usage);

// While the offscreen platform starts on a machine without a display, Qt's
// warnings about the desktop session that is not there (no runtime folder)
// are kept off the terminal: the program says itself how it runs.
class CQuietStart {
public:
    explicit CQuietStart(bool bQuiet);
    ~CQuietStart();
    CQuietStart(const CQuietStart&) = delete;
    CQuietStart& operator=(const CQuietStart&) = delete;

private:
    bool m_bQuiet;
    QtMessageHandler m_previous = nullptr;
};
