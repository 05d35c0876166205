#pragma once

// What the fuzz targets share: the wire through the socket layer's datagram
// hook, the input split into datagrams, the clocks and the message boxes
// settled, and a temporary folder with a few small files.

#include "AsyncSocket.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz {

// Once per process: a QCoreApplication (never run), message boxes that
// answer at once (Yes to a question), the datagram and buffer-size hooks, and
// a temporary folder (under $TMPDIR) made with the files below.
void InitOnce();

// Before every input: the clocks set back to the same instant (the last
// modal window closed then), the record of sent datagrams emptied and the
// folder's in/ emptied.
void StartInput();

// One datagram of the input: a control byte (what each target makes of it),
// then a 16-bit big-endian length and that many bytes (fewer when the input
// ends first). At most kMaxRecords are read.
struct Record {
    uint8_t control = 0;
    QByteArray bytes;
};
constexpr size_t kMaxRecords = 64;
std::vector<Record> SplitRecords(const uint8_t* pData, size_t nSize);

// Hands one datagram from `from` to the socket, as the event loop would: the
// socket's OnReceive runs with the datagram waiting. Returns the number of
// datagrams sent (by any socket) meanwhile.
int Deliver(CAsyncSocket* pSocket, const QByteArray& bytes, const sockaddr_in& from);
// Datagrams sent since StartInput, and the last of them.
int SentCount();
const CAsyncSocket::Datagram& LastSent();

sockaddr_in Address(const char* pszDotted, uint16_t nPort);

// The folder: out/ for reading (small.txt 100 bytes of text lines, block.bin
// 512 bytes, multi.bin 1500 bytes, empty, big.bin 70000 bytes, sub/nested.txt,
// link-in to small.txt, link-out to a file outside, a FIFO named fifo), in/
// for writing (emptied before every input, keeping the folder in/sub/).
// Both end in '/'.
QString OutDir();
QString InDir();

// Aborts the process (a crash for libFuzzer) with a message when bOk is
// false: the targets' own checks of what the engines promise.
void Check(bool bOk, const char* pszWhat);

} // namespace fuzz
