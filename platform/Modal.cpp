#include "Modal.h"

namespace {
int g_nOpen = 0;
CTime g_tLastClosed;
} // namespace

CModalScope::CModalScope() {
    ++g_nOpen;
}

CModalScope::~CModalScope() {
    --g_nOpen;
    // Every close counts, nested ones too: the outermost closes last.
    g_tLastClosed = CTime::GetCurrentTime();
}

bool CModalScope::IsOpen() {
    return g_nOpen > 0;
}

CTime CModalScope::LastClosed() {
    return g_tLastClosed;
}
