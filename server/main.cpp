#include "CommandLine.h"
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
                       "WAYLAND_DISPLAY set) it runs without one.";
    usage.strOptions = "  --no-splash    do not show the start-up picture\n";
    usage.strSettings = CWharfCore::SettingsPath();
    usage.strLog = "without a window, a line on standard error when serving starts and\n"
                   "     one for each transfer that ends; with a window, none";
    return usage;
}
} // namespace

int main(int argc, char** argv) {
    const ProgramUsage usage = Usage();
    if (const auto nStatus = AnswerInfoArgument(argc, argv, usage))
        return *nStatus;
    // A server is what people start over ssh and from scripts: with no
    // display it serves without a window rather than fail in Qt's start.
    const bool bNoDisplay = !HasDisplay() && !PlatformChosen(argc, argv);
    if (bNoDisplay)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::optional<CQuietStart> quiet(bNoDisplay);
    QApplication qapp(argc, argv);
    quiet.reset();
    qapp.setApplicationName("Wharfkeep");
    if (const auto nStatus = RejectUnknownArguments(qapp.arguments(), {"--no-splash"}, usage))
        return *nStatus;
    if (QGuiApplication::platformName() == "offscreen") {
        std::fputs(bNoDisplay ? "Wharfkeep runs without a window: there is no display\n"
                              : "Wharfkeep runs without a window\n",
                   stderr);
        std::fflush(stderr);
    }
    int nResult = 1;
    {
        CWharfApp app;
        if (app.InitInstance()) {
            QuitOnTerminationSignals();
            nResult = qapp.exec();
        }
    } // shutdown: the settings are saved here, also after a failed start
    return nResult;
}
