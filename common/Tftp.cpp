#include "Tftp.h"

#include <cstdio>
#include <cstring>

namespace tftp {

const char* const kOpenModes[4] = {"ra", "wa", "rb", "wb"};

namespace {
const char* const kServerErrors[kErrorCodes] = {
    "Inconclusive system error", "File not found",
    "Access violation",          "Disk full",
    "Unknown TFTP Operation",    "Unknown transfer ID",
    "File already exists",       "Option negotion faulre",
};
const char* const kClientErrors[kErrorCodes] = {
    "Inconclusive system error", "File not found",
    "Access violation",          "Disk full",
    "Unknown TFTP Operation",    "Unknown transfer ID",
    "File already exists",       "Option negotion failure",
};
} // namespace

const char* ErrorText(ErrorTable table, int nCode) {
    if (nCode < 0 || nCode >= kErrorCodes)
        nCode = 0;
    return table == ErrorTable::Server ? kServerErrors[nCode] : kClientErrors[nCode];
}

int BuildError(uint8_t* pBuffer, ErrorTable table, int nCode) {
    if (nCode < 0 || nCode >= kErrorCodes)
        nCode = 0;
    int nOpcode = OP_ERROR;
    int nField = nCode;
    const char* pszText = ErrorText(table, nCode);
    if (table == ErrorTable::Server && nCode == ERR_OPTION_FAILURE) {
        nOpcode = OP_OPTION_FAILURE;
        nField = 0;
        pszText = ErrorText(table, 0);
    }
    PutWord(pBuffer, nOpcode);
    PutWord(pBuffer + 2, nField);
    size_t nText = std::strlen(pszText);
    std::memcpy(pBuffer + 4, pszText, nText + 1);
    return static_cast<int>(nText) + 5;
}

int MaxErrorPacketSize() {
    size_t nLongest = 0;
    for (int i = 0; i < kErrorCodes; ++i) {
        nLongest = std::max(nLongest, std::strlen(kServerErrors[i]));
        nLongest = std::max(nLongest, std::strlen(kClientErrors[i]));
    }
    return static_cast<int>(nLongest) + 5;
}

int WriteOption(uint8_t* p, const char* pszName, long nValue) {
    size_t nName = std::strlen(pszName);
    std::memcpy(p, pszName, nName + 1);
    char szValue[24];
    int nDigits = std::snprintf(szValue, sizeof szValue, "%ld", nValue);
    std::memcpy(p + nName + 1, szValue, static_cast<size_t>(nDigits) + 1);
    return static_cast<int>(nName) + nDigits + 2;
}

bool SameNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char ca = static_cast<unsigned char>(*a);
        unsigned char cb = static_cast<unsigned char>(*b);
        if (ca >= 'A' && ca <= 'Z')
            ca = static_cast<unsigned char>(ca - 'A' + 'a');
        if (cb >= 'A' && cb <= 'Z')
            cb = static_cast<unsigned char>(cb - 'A' + 'a');
        if (ca != cb)
            return false;
        if (ca == 0)
            return true;
    }
}

namespace {
// The digits from p on, before pEnd; p is left on the first other byte.
template <typename Byte>
unsigned long ReadDigits(const Byte*& p, const Byte* pEnd, unsigned long nLimit) {
    unsigned long n = 0;
    for (; p < pEnd && *p >= '0' && *p <= '9'; ++p) {
        unsigned d = static_cast<unsigned>(*p - '0');
        n = (n > (nLimit - d) / 10) ? nLimit : n * 10 + d;
    }
    return n;
}
} // namespace

unsigned long LeadingDigits(const char* p, unsigned long nLimit) {
    return p ? ReadDigits(p, p + std::strlen(p), nLimit) : 0;
}

unsigned long LeadingDigits(const QByteArray& text, unsigned long nLimit) {
    return LeadingDigits(text.constData(), nLimit);
}

unsigned PortFromText(const QByteArray& text) {
    unsigned long n = LeadingDigits(text, 100000);
    return (n == 0 || n > 65535) ? 69 : static_cast<unsigned>(n);
}

bool OptionReader::Next(OptionEntry& entry) {
    if (m_p >= m_end || *m_p == 0)
        return false;
    const uint8_t* pName = m_p;
    while (m_p < m_end && *m_p != 0)
        ++m_p;
    if (m_p >= m_end)
        return false; // name cut off
    entry.name = QByteArray(reinterpret_cast<const char*>(pName), m_p - pName);
    ++m_p;
    const unsigned long n = ReadDigits(m_p, m_end, 0xFFFFFFFFul);
    if (m_p >= m_end)
        return false; // value cut off before its terminator
    ++m_p;
    entry.value = n;
    return true;
}

} // namespace tftp
