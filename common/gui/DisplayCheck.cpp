#include "DisplayCheck.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {
bool Set(const char* pszName) {
    const char* pszValue = std::getenv(pszName);
    return pszValue && *pszValue;
}

using Clock = std::chrono::steady_clock;

// Xauthority's address families.
constexpr unsigned kFamilyInternet = 0;
constexpr unsigned kFamilyInternet6 = 6;
constexpr unsigned kFamilyLocal = 256;
constexpr unsigned kFamilyWild = 65535;

// The MIT-MAGIC-COOKIE-1 filed for the display, found as Xlib finds it: an
// ssh forwarding hangs up on a set-up without its cookie, a live one too.
std::string Cookie(unsigned nFamily, const std::string& strAddress, int nDisplay) {
    std::string strPath;
    if (Set("XAUTHORITY"))
        strPath = std::getenv("XAUTHORITY");
    else if (Set("HOME"))
        strPath = std::string(std::getenv("HOME")) + "/.Xauthority";
    std::FILE* pFile = strPath.empty() ? nullptr : std::fopen(strPath.c_str(), "rbe");
    if (!pFile)
        return {};
    std::string strFile;
    char buffer[4096];
    size_t nRead = 0;
    while (strFile.size() < (1u << 20) && (nRead = std::fread(buffer, 1, sizeof buffer, pFile)))
        strFile.append(buffer, nRead);
    std::fclose(pFile);
    // Entries of a 16-bit family and four counted strings, big-endian.
    size_t nAt = 0;
    const auto Number = [&](unsigned& nValue) {
        if (nAt + 2 > strFile.size())
            return false;
        nValue = unsigned(uint8_t(strFile[nAt])) << 8 | uint8_t(strFile[nAt + 1]);
        nAt += 2;
        return true;
    };
    const auto Field = [&](std::string& strField) {
        unsigned nLength = 0;
        if (!Number(nLength) || nAt + nLength > strFile.size())
            return false;
        strField = strFile.substr(nAt, nLength);
        nAt += nLength;
        return true;
    };
    const std::string strDisplay = std::to_string(nDisplay);
    unsigned nEntryFamily = 0;
    std::string strEntryAddress, strNumber, strName, strData;
    while (Number(nEntryFamily) && Field(strEntryAddress) && Field(strNumber) && Field(strName) &&
           Field(strData)) {
        const bool bHost = nEntryFamily == kFamilyWild ||
                           (nEntryFamily == nFamily && strEntryAddress == strAddress);
        if (bHost && (strNumber.empty() || strNumber == strDisplay) &&
            strName == "MIT-MAGIC-COOKIE-1")
            return strData;
    }
    return {};
}

// The family and address Xauthority files a connection's cookie under:
// loopback and Unix sockets under the host's name.
std::string CookieFor(const sockaddr* pAddress, int nDisplay) {
    unsigned nFamily = kFamilyLocal;
    std::string strAddress;
    if (pAddress->sa_family == AF_INET) {
        const auto* pIn = reinterpret_cast<const sockaddr_in*>(pAddress);
        if (pIn->sin_addr.s_addr != htonl(INADDR_LOOPBACK)) {
            nFamily = kFamilyInternet;
            strAddress.assign(reinterpret_cast<const char*>(&pIn->sin_addr), 4);
        }
    } else if (pAddress->sa_family == AF_INET6) {
        const auto* pIn6 = reinterpret_cast<const sockaddr_in6*>(pAddress);
        const char* pBytes = reinterpret_cast<const char*>(&pIn6->sin6_addr);
        if (IN6_IS_ADDR_V4MAPPED(&pIn6->sin6_addr)) {
            nFamily = kFamilyInternet;
            strAddress.assign(pBytes + 12, 4);
        } else if (!IN6_IS_ADDR_LOOPBACK(&pIn6->sin6_addr)) {
            nFamily = kFamilyInternet6;
            strAddress.assign(pBytes, 16);
        }
    }
    if (nFamily == kFamilyLocal) {
        char szHost[256] = {};
        if (gethostname(szHost, sizeof szHost - 1) != 0)
            return {};
        strAddress = szHost;
    }
    return Cookie(nFamily, strAddress, nDisplay);
}

// The connection set-up of X11 protocol 11.0, least significant byte first.
std::string SetUp(const std::string& strCookie) {
    const std::string strName = strCookie.empty() ? "" : "MIT-MAGIC-COOKIE-1";
    const auto Padded = [](std::string strText) {
        strText.resize((strText.size() + 3) / 4 * 4, '\0');
        return strText;
    };
    const char header[12] = {'l',
                             0,
                             11,
                             0,
                             0,
                             0,
                             char(strName.size()),
                             char(strName.size() >> 8),
                             char(strCookie.size()),
                             char(strCookie.size() >> 8),
                             0,
                             0};
    return std::string(header, sizeof header) + Padded(strName) + Padded(strCookie);
}

bool WaitFor(int fd, short nEvents, Clock::time_point deadline) {
    for (;;) {
        const auto nLeft =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry{fd, nEvents, 0};
        const int nReady = poll(&entry, 1, nLeft > 0 ? int(nLeft) : 0);
        if (nReady >= 0 || errno != EINTR)
            return nReady == 1;
    }
}

enum class Reach { kNoConnection, kSilent, kAnswered };

// The first byte back, whatever the server says in it, is an answer.
Reach Knock(const sockaddr* pAddress, socklen_t nLength, int nDisplay, Clock::time_point deadline) {
    const int fd = socket(pAddress->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Reach::kNoConnection;
    const struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    if (connect(fd, pAddress, nLength) != 0 && errno != EINPROGRESS)
        return Reach::kNoConnection;
    int nError = 0;
    socklen_t nSize = sizeof nError;
    if (!WaitFor(fd, POLLOUT, deadline) ||
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &nError, &nSize) != 0 || nError != 0)
        return Reach::kNoConnection;
    // A few dozen bytes: the socket's buffer takes them at once.
    const std::string strSetUp = SetUp(CookieFor(pAddress, nDisplay));
    char byte = 0;
    if (send(fd, strSetUp.data(), strSetUp.size(), MSG_NOSIGNAL) != ssize_t(strSetUp.size()) ||
        !WaitFor(fd, POLLIN, deadline) || recv(fd, &byte, 1, 0) != 1)
        return Reach::kSilent;
    return Reach::kAnswered;
}

// The local server's socket: Linux's abstract one first, then the file, the
// first that connects deciding, as Xlib tries them.
Reach KnockLocal(int nDisplay, Clock::time_point deadline) {
    const std::string strPath = "/tmp/.X11-unix/X" + std::to_string(nDisplay);
    for (const bool bAbstract : {true, false}) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path + (bAbstract ? 1 : 0), strPath.data(), strPath.size());
        const socklen_t nLength =
            socklen_t(offsetof(sockaddr_un, sun_path) + strPath.size() + (bAbstract ? 1 : 0));
        const Reach reach =
            Knock(reinterpret_cast<const sockaddr*>(&address), nLength, nDisplay, deadline);
        if (reach != Reach::kNoConnection)
            return reach;
    }
    return Reach::kNoConnection;
}

// Numeric addresses only, and localhost as both loopbacks: a look-up could
// wait on the network past any bound.
Reach KnockTcp(const std::string& strHost, int nDisplay, Clock::time_point deadline) {
    const std::string strPort = std::to_string(6000 + nDisplay);
    const std::vector<std::string> addresses = strHost == "localhost"
                                                   ? std::vector<std::string>{"127.0.0.1", "::1"}
                                                   : std::vector<std::string>{strHost};
    for (const std::string& strAddress : addresses) {
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
        addrinfo* pList = nullptr;
        if (getaddrinfo(strAddress.c_str(), strPort.c_str(), &hints, &pList) != 0)
            continue;
        Reach reach = Reach::kNoConnection;
        for (const addrinfo* p = pList; p && reach == Reach::kNoConnection; p = p->ai_next)
            reach = Knock(p->ai_addr, p->ai_addrlen, nDisplay, deadline);
        freeaddrinfo(pList);
        if (reach != Reach::kNoConnection)
            return reach;
    }
    return Reach::kNoConnection;
}

bool IsNumericHost(const std::string& strHost) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, strHost.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, strHost.c_str(), buffer) == 1;
}
} // namespace

bool DisplayAnswers(const char* pszDisplay, int nTimeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    std::string strName = pszDisplay ? pszDisplay : "";
    if (strName.empty())
        return false;
    // A path to a socket, or a protocol this does not know: Qt decides.
    if (strName[0] == '/')
        return true;
    std::string strProtocol;
    if (const size_t nSlash = strName.rfind('/'); nSlash != std::string::npos) {
        strProtocol = strName.substr(0, nSlash);
        strName.erase(0, nSlash + 1);
        if (strProtocol != "unix" && strProtocol != "tcp" && strProtocol != "inet" &&
            strProtocol != "inet6")
            return true;
    }
    // ":N" or ":N.screen" after the last colon; without it Qt cannot connect either.
    const size_t nColon = strName.rfind(':');
    if (nColon == std::string::npos)
        return false;
    const std::string strRest = strName.substr(nColon + 1);
    const std::string strNumber = strRest.substr(0, strRest.find('.'));
    const std::string strScreen =
        strNumber.size() < strRest.size() ? strRest.substr(strNumber.size() + 1) : "0";
    const auto IsNumber = [](const std::string& strText) {
        return !strText.empty() && strText.size() <= 5 &&
               strText.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!IsNumber(strNumber) || !IsNumber(strScreen) || std::stoi(strNumber) > 65535 - 6000)
        return false;
    const int nDisplay = std::stoi(strNumber);
    std::string strHost = strName.substr(0, nColon);
    if (strHost.size() > 2 && strHost.front() == '[' && strHost.back() == ']')
        strHost = strHost.substr(1, strHost.size() - 2);
    const bool bLocal = strProtocol == "unix" || (strProtocol.empty() && strHost == "unix");
    if (bLocal || (strProtocol.empty() && strHost.empty())) {
        const Reach reach = KnockLocal(nDisplay, deadline);
        // ":N" falls back on localhost's TCP port, as Xlib does.
        if (reach != Reach::kNoConnection || bLocal)
            return reach == Reach::kAnswered;
    }
    if (strHost.empty())
        strHost = "localhost";
    if (strHost != "localhost" && !IsNumericHost(strHost))
        return true;
    return KnockTcp(strHost, nDisplay, deadline) == Reach::kAnswered;
}
