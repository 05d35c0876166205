#include "Clock.h"

#include <chrono>

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

namespace {
std::optional<unsigned long long> g_testTicks;
}

unsigned long long GetTickCount() {
    if (g_testTicks)
        return *g_testTicks;
    using namespace std::chrono;
    return static_cast<unsigned long long>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SetTestTickCount(std::optional<unsigned long long> nTicks) {
    g_testTicks = nTicks;
}

void AdvanceTestTickCount(unsigned long long nMilliseconds) {
    if (!g_testTicks)
        g_testTicks = GetTickCount();
    *g_testTicks += nMilliseconds;
}
