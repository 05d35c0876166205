#include "CommandLine.h"
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
    const ProgramUsage usage = Usage();
    if (const auto nStatus = AnswerInfoArgument(argc, argv, usage))
        return *nStatus;
    // Without a display Qt would abort; the arguments are still checked
    // first, on a platform that needs none.
    const bool bNoDisplay = !HasDisplay() && !PlatformChosen(argc, argv);
    if (bNoDisplay)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::optional<CQuietStart> quiet(bNoDisplay);
    QApplication qapp(argc, argv);
    quiet.reset();
    qapp.setApplicationName("Skiffer Client");
    if (const auto nStatus = RejectUnknownArguments(qapp.arguments(), {}, usage))
        return *nStatus;
    if (bNoDisplay) {
        std::fputs("skiffer needs a display: neither DISPLAY nor WAYLAND_DISPLAY is set\n", stderr);
        return 1;
    }
    int nResult = 1;
    {
        CSkifferApp app;
        if (app.InitInstance()) {
            QuitOnTerminationSignals();
            nResult = qapp.exec();
        }
    }
    return nResult;
}
