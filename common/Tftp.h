#pragma once

#include <QByteArray>
#include <cstddef>
#include <cstdint>

// TFTP wire format shared by the server and the client.
namespace tftp {

enum Opcode : uint16_t {
    OP_RRQ = 1,
    OP_WRQ = 2,
    OP_DATA = 3,
    OP_ACK = 4,
    OP_ERROR = 5,
    OP_OACK = 6,
    OP_OPTION_FAILURE = 8, // the server's answer to a failed option negotiation
};

constexpr int kDefaultBlockSize = 512;
constexpr int kBufferSlack = 20; // packet buffer = block size + 20
constexpr int kHeaderSize = 4;   // opcode + block number / error code
constexpr int kMinBlockSize = 8; // RFC 2348 bounds
constexpr int kMaxBlockSize = 65464;
// The server reads requests of up to this many bytes.
constexpr int kMaxRequestSize = 512;

constexpr const char* kModeNetascii = "netascii";
constexpr const char* kModeOctet = "octet";
constexpr const char* kOptTsize = "tsize";
constexpr const char* kOptTimeout = "timeout";
constexpr const char* kOptBlksize = "blksize";
constexpr const char* kOptWindowsize = "windowsize";
// RFC 7440 bounds of a window, in blocks; 1 is lock-step.
constexpr int kMinWindowSize = 1;
constexpr int kMaxWindowSize = 65535;

// How the local file is opened for each mode and direction, indexed
// netascii-read, netascii-write, octet-read, octet-write.
extern const char* const kOpenModes[4];

// The error codes, as on the wire. Both programs use code 7 for a failed
// option negotiation.
enum ErrorCode : int {
    ERR_UNDEFINED = 0,
    ERR_FILE_NOT_FOUND = 1,
    ERR_ACCESS_VIOLATION = 2,
    ERR_DISK_FULL = 3,
    ERR_ILLEGAL_OPERATION = 4,
    ERR_UNKNOWN_TID = 5,
    ERR_FILE_EXISTS = 6,
    ERR_OPTION_FAILURE = 7,
};

// How a transfer is ended: quietly (it is done, aborted or given up, or the
// peer sent an ERROR itself), or by telling the peer why with that code.
enum class EndReason : int {
    Quietly = -1,
    LocalFailure = ERR_UNDEFINED,
    DiskFull = ERR_DISK_FULL,
    IllegalOperation = ERR_ILLEGAL_OPERATION,
    OptionFailure = ERR_OPTION_FAILURE,
};

// The two copies of the error table; they differ in the text of code 7.
enum class ErrorTable { Server, Client };
constexpr int kErrorCodes = 8;
const char* ErrorText(ErrorTable table, int nCode);

// 16-bit fields in network byte order.
inline uint16_t GetWord(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline void PutWord(uint8_t* p, unsigned n) {
    p[0] = static_cast<uint8_t>((n >> 8) & 0xFF);
    p[1] = static_cast<uint8_t>(n & 0xFF);
}

// Builds an ERROR packet for nCode (opcode 5, code, table text, NUL) and
// returns its length. For the server, code 7 becomes the option-failure
// packet: opcode 8, code 0 and the text of code 0.
int BuildError(uint8_t* pBuffer, ErrorTable table, int nCode);
// Largest packet BuildError can produce.
int MaxErrorPacketSize();

// Writes "name\0value\0" with the value in decimal; returns its length.
int WriteOption(uint8_t* p, const char* pszName, long nValue);

// ASCII letters compared without regard to case.
bool SameNoCase(const char* a, const char* b);

// The run of decimal digits at the start of a text; the first other
// character ends it. nLimit caps the result (it never wraps).
unsigned long LeadingDigits(const char* p, unsigned long nLimit = 0xFFFFFFFFul);
unsigned long LeadingDigits(const QByteArray& text, unsigned long nLimit = 0xFFFFFFFFul);

// A port text read as its leading digits; 0, no digits or a number above
// 65535 give the default TFTP port 69.
unsigned PortFromText(const QByteArray& text);

// Option list reader: name up to NUL, then the decimal digits of the value,
// then one byte skipped. Stops at a NUL where a name would start or at the
// end of the data; a pair cut off by the end is not delivered.
struct OptionEntry {
    QByteArray name;
    unsigned long value = 0;
};
class OptionReader {
public:
    OptionReader(const uint8_t* pData, size_t nLength) : m_p(pData), m_end(pData + nLength) {}
    bool Next(OptionEntry& entry);
    size_t Offset(const uint8_t* pStart) const { return static_cast<size_t>(m_p - pStart); }

private:
    const uint8_t* m_p;
    const uint8_t* m_end;
};

} // namespace tftp
