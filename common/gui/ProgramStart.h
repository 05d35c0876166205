#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>
#include <memory>

// What a program says about itself on its command line, answered before any
// window or settings file is touched, so that it works over ssh too.
struct ProgramUsage {
    QString strProgram;  // the command's name, "wharfkeep"
    QString strVersion;  // the line --version prints
    QString strSummary;  // what the program is
    QString strOptions;  // the program's own options, one per line
    QString strSettings; // the settings file
    QString strLog;      // where messages and the log go
};

struct ProgramStart {
    std::unique_ptr<QApplication> pApp; // null: the program ends at once
    int nExitStatus = 0;
    // Neither DISPLAY nor WAYLAND_DISPLAY was set and no Qt platform was
    // named: Qt runs on the offscreen platform.
    bool bNoDisplay = false;
    // DISPLAY names an X display that did not answer (a stale ssh forwarding,
    // a variable left over): Qt runs offscreen as without a display. The
    // display's name, empty when it answered or was not asked.
    QString strSilentDisplay;
};

// The start both programs share: --help and --version are answered on
// standard output (status 0); without a display, or with an X display that
// does not answer within a second, Qt starts offscreen, its warnings about
// the missing desktop session kept off the terminal; then an
// argument that neither Qt nor the program knows (knownOptions) gets the
// usage on standard error and status 2.
ProgramStart StartProgram(int& argc, char** argv, const ProgramUsage& usage,
                          const QStringList& knownOptions);
