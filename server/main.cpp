#include "ProgramStart.h"
#include "Signals.h"
#include "WharfApp.h"

#include <QApplication>
#include <cstdio>

namespace {
ProgramUsage Usage() {
    ProgramUsage usage;
    usage.strProgram = "wharfkeep";
    usage.strVersion = "Wharfkeep Version 6.5 (harnwick-tftp " PACKAGE_VERSION ")";
    usage.strSummary = "A TFTP server with a window. Without a display (neither DISPLAY nor\n"
                       "WAYLAND_DISPLAY set, or a DISPLAY that does not answer) it runs\n"
                       "without one.";
    usage.strOptions = "  --no-splash    do not show the start-up picture\n";
    usage.strSettings = CWharfCore::SettingsPath();
    usage.strLog = "without a window, a line on standard error when serving starts and\n"
                   "     one for each transfer that ends; with a window, none";
    return usage;
}
} // namespace

int main(int argc, char** argv) {
    // A server is what people start over ssh and from scripts: with no
    // display, or one that does not answer, it serves without a window
    // rather than fail in Qt's start.
    const ProgramStart start = StartProgram(argc, argv, Usage(), {"--no-splash"});
    if (!start.pApp)
        return start.nExitStatus;
    start.pApp->setApplicationName("Wharfkeep");
    if (QGuiApplication::platformName() == "offscreen") {
        QString strLine = "Wharfkeep runs without a window";
        if (start.bNoDisplay)
            strLine += ": there is no display";
        else if (!start.strSilentDisplay.isEmpty())
            strLine += QString(": the display %1 does not answer").arg(start.strSilentDisplay);
        std::fputs((strLine + '\n').toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }
    int nResult = 1;
    {
        CWharfApp app;
        if (app.InitInstance()) {
            QuitOnTerminationSignals();
            nResult = start.pApp->exec();
        }
    } // shutdown: the settings are saved here, also after a failed start
    return nResult;
}
