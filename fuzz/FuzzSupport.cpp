#include "FuzzSupport.h"

#include "Clock.h"
#include "MessageBox.h"
#include "Modal.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace fuzz {
namespace {
// The instant every input starts at (any fixed value: nothing reads the date).
constexpr time_t kStartTime = 1'000'000'000;
constexpr unsigned long long kStartTicks = 5'000'000;

// Socket buffers as the buffer-size hook grants them: this much by default,
// at most kMostGranted (so a large block size is lowered), and a request
// above kRefusedAbove fails.
constexpr int kDefaultBuffer = 32768;
constexpr int kMostGranted = 49152;
constexpr int kRefusedAbove = 65000;

// Removed at exit (fuzz.sh also points $TMPDIR at a scratch folder).
std::unique_ptr<QTemporaryDir> g_pRoot;
QString g_outDir, g_inDir;

const CAsyncSocket* g_pTarget = nullptr; // the socket a datagram is waiting for
std::optional<CAsyncSocket::Datagram> g_pending;
int g_nSent = 0;
CAsyncSocket::Datagram g_lastSent;

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        Check(false, "cannot write a fuzz folder file");
}

QByteArray Bytes(int nSize, int nSeed) {
    QByteArray bytes(nSize, '\0');
    for (int i = 0; i < nSize; ++i)
        bytes[i] = static_cast<char>((i * 7 + nSeed * 13 + (i >> 8)) & 0xFF);
    return bytes;
}

void MakeFolder() {
    g_pRoot = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/harnwick-fuzz-XXXXXX");
    if (!g_pRoot->isValid())
        Check(false, "cannot make the fuzz folder");
    const QString root = g_pRoot->path();
    g_outDir = root + "/out/";
    g_inDir = root + "/in/";
    QDir().mkpath(g_outDir + "sub");
    QDir().mkpath(g_inDir + "sub");
    QByteArray text;
    while (text.size() < 100)
        text += "line of text\r\nbare\n";
    WriteFile(g_outDir + "small.txt", text.left(100));
    WriteFile(g_outDir + "block.bin", Bytes(512, 1));
    WriteFile(g_outDir + "multi.bin", Bytes(1500, 2));
    WriteFile(g_outDir + "empty", {});
    WriteFile(g_outDir + "big.bin", Bytes(70000, 3));
    WriteFile(g_outDir + "sub/nested.txt", "nested\n");
    WriteFile(root + "/outside.txt", "outside\n");
    QFile::link(g_outDir + "small.txt", g_outDir + "link-in");
    QFile::link(root + "/outside.txt", g_outDir + "link-out");
    ::mkfifo(QFile::encodeName(g_outDir + "fifo").constData(), 0600);
}

// Removes the regular files and links a write left in the folder.
void EmptyFolder(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    DIR* pDir = ::opendir(path.constData());
    if (!pDir)
        return;
    while (dirent* pEntry = ::readdir(pDir)) {
        if (pEntry->d_type == DT_DIR)
            continue;
        ::unlink((path + pEntry->d_name).constData());
    }
    ::closedir(pDir);
}

bool Receive(const CAsyncSocket* pSocket, CAsyncSocket::Datagram* pDatagram) {
    if (!g_pending || pSocket != g_pTarget)
        return false;
    *pDatagram = std::move(*g_pending);
    g_pending.reset();
    return true;
}

bool Send(const CAsyncSocket*, const CAsyncSocket::Datagram& datagram) {
    // Nothing is larger than the largest block and its header.
    Check(datagram.bytes.size() <= 65464 + 4, "a datagram larger than any block was sent");
    ++g_nSent;
    g_lastSent = datagram;
    return true;
}

bool BufferSize(int, int nRequested, int* pGranted) {
    if (nRequested == 0) {
        *pGranted = kDefaultBuffer;
        return true;
    }
    if (nRequested > kRefusedAbove)
        return false;
    *pGranted = std::min(nRequested, kMostGranted);
    return true;
}
} // namespace

void Check(bool bOk, const char* pszWhat) {
    if (bOk)
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", pszWhat);
    std::abort();
}

void InitOnce() {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* pApp = new QCoreApplication(argc, argv);
    (void)pApp;
    SetHeadless(true);
    SetMessageBoxHandler([](const QString&, unsigned type) {
        return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : DefaultButton(type);
    });
    CAsyncSocket::SetDatagramHook({Receive, Send});
    CAsyncSocket::SetBufferSizeHook(BufferSize);
    MakeFolder();
}

void StartInput() {
    CTime::SetTestTime(kStartTime);
    SetTestTickCount(kStartTicks);
    {
        // The last modal window closed now, not during an earlier input: the
        // client's time-out counts from it.
        CModalScope modal;
    }
    g_nSent = 0;
    g_lastSent = {};
    g_pending.reset();
    g_pTarget = nullptr;
    EmptyFolder(g_inDir);
    EmptyFolder(g_inDir + "sub/");
}

std::vector<Record> SplitRecords(const uint8_t* pData, size_t nSize) {
    std::vector<Record> records;
    size_t i = 0;
    while (i < nSize && records.size() < kMaxRecords) {
        Record record;
        record.control = pData[i++];
        size_t nLength = 0;
        if (i < nSize)
            nLength = static_cast<size_t>(pData[i++]) << 8;
        if (i < nSize)
            nLength |= pData[i++];
        nLength = std::min(nLength, nSize - i);
        record.bytes =
            QByteArray(reinterpret_cast<const char*>(pData + i), static_cast<qsizetype>(nLength));
        i += nLength;
        records.push_back(std::move(record));
    }
    return records;
}

int Deliver(CAsyncSocket* pSocket, const QByteArray& bytes, const sockaddr_in& from) {
    const int nBefore = g_nSent;
    g_pTarget = pSocket;
    g_pending = CAsyncSocket::Datagram{bytes, from};
    pSocket->OnReceive(0);
    g_pending.reset();
    g_pTarget = nullptr;
    return g_nSent - nBefore;
}

int SentCount() {
    return g_nSent;
}

const CAsyncSocket::Datagram& LastSent() {
    return g_lastSent;
}

sockaddr_in Address(const char* pszDotted, uint16_t nPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(nPort);
    ::inet_aton(pszDotted, &address.sin_addr);
    return address;
}

QString OutDir() {
    return g_outDir;
}

QString InDir() {
    return g_inDir;
}

} // namespace fuzz
