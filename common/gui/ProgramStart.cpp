#include "ProgramStart.h"

#include "DisplayCheck.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
void Print(std::FILE* pStream, const QString& strText) {
    std::fputs(strText.toLocal8Bit().constData(), pStream);
    std::fflush(pStream);
}

bool IsSet(const char* pszName) {
    const char* pszValue = std::getenv(pszName);
    return pszValue && *pszValue;
}

bool IsArgument(const char* pszArgument, std::initializer_list<const char*> names) {
    for (const char* pszName : names)
        if (std::strcmp(pszArgument, pszName) == 0)
            return true;
    return false;
}

QString UsageText(const ProgramUsage& usage) {
    return QString("Usage: %1 [options] [Qt options]\n"
                   "%2\n\n"
                   "Options:\n"
                   "%3"
                   "  --help         show this text and end\n"
                   "  --version      show the version and end\n\n"
                   "Settings: %4\n"
                   "Log: %5\n")
        .arg(usage.strProgram, usage.strSummary, usage.strOptions, usage.strSettings, usage.strLog);
}

// A platform named on the command line.
bool PlatformArgument(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (IsArgument(argv[i], {"-platform", "--platform"}))
            return true;
    return false;
}

bool NoDisplay(int argc, char** argv) {
    return !IsSet("DISPLAY") && !IsSet("WAYLAND_DISPLAY") && !IsSet("QT_QPA_PLATFORM") &&
           !PlatformArgument(argc, argv);
}

// DISPLAY is what Qt would connect to: no Wayland, no other platform named.
bool XcbWouldStart(int argc, char** argv) {
    if (!IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY"))
        return false;
    const char* pszPlatform = std::getenv("QT_QPA_PLATFORM");
    if (pszPlatform && *pszPlatform && std::strcmp(pszPlatform, "xcb") != 0)
        return false;
    return !PlatformArgument(argc, argv);
}

void FatalOnly(QtMsgType type, const QMessageLogContext&, const QString& strText) {
    if (type == QtFatalMsg)
        Print(stderr, strText + '\n');
}
} // namespace

ProgramStart StartProgram(int& argc, char** argv, const ProgramUsage& usage,
                          const QStringList& knownOptions) {
    ProgramStart start;
    for (int i = 1; i < argc; ++i) {
        if (IsArgument(argv[i], {"--help", "-h"})) {
            Print(stdout, UsageText(usage));
            return start;
        }
        if (IsArgument(argv[i], {"--version"})) {
            Print(stdout, usage.strVersion + '\n');
            return start;
        }
    }
    start.bNoDisplay = NoDisplay(argc, argv);
    // Qt's xcb platform ends the program when the display does not answer,
    // and waits without end when it stays silent: asked first, briefly.
    if (XcbWouldStart(argc, argv) && !DisplayAnswers(std::getenv("DISPLAY"), 1000)) {
        start.strSilentDisplay = QString::fromLocal8Bit(std::getenv("DISPLAY"));
        // The offscreen platform would open the display too, for OpenGL.
        qputenv("QT_QPA_OFFSCREEN_NO_GLX", "1");
    }
    if (start.bNoDisplay || !start.strSilentDisplay.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        const QtMessageHandler previous = qInstallMessageHandler(FatalOnly);
        start.pApp = std::make_unique<QApplication>(argc, argv);
        qInstallMessageHandler(previous);
    } else {
        start.pApp = std::make_unique<QApplication>(argc, argv);
    }
    // Qt has taken its own options out of the arguments by now.
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (knownOptions.contains(arguments[i]))
            continue;
        Print(stderr,
              QString("%1: unknown argument \"%2\"\n\n").arg(usage.strProgram, arguments[i]) +
                  UsageText(usage));
        start.pApp.reset();
        start.nExitStatus = 2;
        return start;
    }
    return start;
}
