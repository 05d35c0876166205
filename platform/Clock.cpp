#include "Clock.h"

namespace {
std::optional<time_t> g_testTime;
}

CTime CTime::GetCurrentTime() {
    return CTime(g_testTime ? *g_testTime : std::time(nullptr));
}

void CTime::SetTestTime(std::optional<time_t> t) {
    g_testTime = t;
}

void CTime::AdvanceTestTime(long nSeconds) {
    if (!g_testTime)
        g_testTime = std::time(nullptr);
    *g_testTime += nSeconds;
}
