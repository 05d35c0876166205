#include "CommandLine.h"

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
} // namespace

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

std::optional<int> AnswerInfoArgument(int argc, char** argv, const ProgramUsage& usage) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            Print(stdout, UsageText(usage));
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            Print(stdout, usage.strVersion + '\n');
            return 0;
        }
    }
    return std::nullopt;
}

bool HasDisplay() {
    return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
}

bool PlatformChosen(int argc, char** argv) {
    if (IsSet("QT_QPA_PLATFORM"))
        return true;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    return false;
}

std::optional<int> RejectUnknownArguments(const QStringList& arguments, const QStringList& known,
                                          const ProgramUsage& usage) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (known.contains(arguments[i]))
            continue;
        Print(stderr,
              QString("%1: unknown argument \"%2\"\n\n").arg(usage.strProgram, arguments[i]) +
                  UsageText(usage));
        return 2;
    }
    return std::nullopt;
}

CQuietStart::CQuietStart(bool bQuiet) : m_bQuiet(bQuiet) {
    if (m_bQuiet)
        m_previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext&, const QString& strText) {
                if (type == QtFatalMsg)
                    std::fprintf(stderr, "%s\n", strText.toLocal8Bit().constData());
            });
}

CQuietStart::~CQuietStart() {
    if (m_bQuiet)
        qInstallMessageHandler(m_previous);
}
