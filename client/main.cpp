#include "ProgramStart.h"
#include "Signals.h"
#include "SkifferApp.h"

#include <QApplication>
#include <cstdio>

namespace {
ProgramUsage Usage() {
    ProgramUsage usage;
    usage.strProgram = "skiffer";
    usage.strVersion = "Skiffer TFTP Client Version 5.0 (harnwick-tftp " PACKAGE_VERSION ")";
    usage.strSummary = "A TFTP client with a window; it needs a display.";
    usage.strSettings = CSkifferCore::ProfilePath();
    usage.strLog = "none; the window's status line tells how each transfer goes";
    return usage;
}
} // namespace

int main(int argc, char** argv) {
    const ProgramStart start = StartProgram(argc, argv, Usage(), {});
    if (!start.pApp)
        return start.nExitStatus;
    if (start.bNoDisplay) {
        std::fputs("skiffer needs a display: neither DISPLAY nor WAYLAND_DISPLAY is set\n", stderr);
        return 1;
    }
    if (!start.strSilentDisplay.isEmpty()) {
        std::fprintf(stderr, "skiffer cannot open the display %s: it does not answer\n",
                     start.strSilentDisplay.toLocal8Bit().constData());
        return 1;
    }
    start.pApp->setApplicationName("Skiffer Client");
    int nResult = 1;
    {
        CSkifferApp app;
        if (app.InitInstance()) {
            QuitOnTerminationSignals();
            nResult = start.pApp->exec();
        }
    }
    return nResult;
}
