#include "Clock.h"

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <utility>
#include <vector>

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
// Every timer, so that the test clock can fire them and move them between
// the real clock and its own.
std::vector<CTimer*> g_timers;

unsigned long long RealTickCount() {
    using namespace std::chrono;
    return static_cast<unsigned long long>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
} // namespace

unsigned long long GetTickCount() {
    return g_testTicks ? *g_testTicks : RealTickCount();
}

void SetTestTickCount(std::optional<unsigned long long> nTicks) {
    if (g_testTicks.has_value() == nTicks.has_value()) {
        g_testTicks = nTicks;
        CTimer::FireDue();
        return;
    }
    // From one clock to the other: armed timers keep what they had left to wait.
    const unsigned long long nOld = GetTickCount();
    std::vector<std::pair<CTimer*, unsigned long long>> armed;
    for (CTimer* pTimer : g_timers)
        if (pTimer->IsActive())
            armed.emplace_back(pTimer, pTimer->Deadline() > nOld ? pTimer->Deadline() - nOld : 0);
    g_testTicks = nTicks;
    for (auto [pTimer, nLeft] : armed)
        pTimer->Start(nLeft);
    CTimer::FireDue();
}

void AdvanceTestTickCount(unsigned long long nMilliseconds) {
    if (!g_testTicks)
        SetTestTickCount(RealTickCount());
    *g_testTicks += nMilliseconds;
    CTimer::FireDue();
}

CTimer::CTimer(Handler handler) : m_handler(std::move(handler)) {
    g_timers.push_back(this);
}

CTimer::~CTimer() {
    g_timers.erase(std::remove(g_timers.begin(), g_timers.end(), this), g_timers.end());
    delete m_pTimer;
}

void CTimer::Start(unsigned long long nMs) {
    const unsigned long long nNow = GetTickCount();
    m_nDeadline = nNow + nMs;
    m_bActive = true;
    if (g_testTicks) {
        if (m_pTimer)
            m_pTimer->stop();
        return;
    }
    if (!m_pTimer) {
        m_pTimer = new QTimer;
        m_pTimer->setSingleShot(true);
        m_pTimer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_pTimer, &QTimer::timeout, [this] { Wake(RealTickCount()); });
    }
    // Already set to wake no later: it goes back to sleep then if need be.
    if (m_pTimer->isActive() && m_nWakeAt <= m_nDeadline)
        return;
    m_nWakeAt = m_nDeadline;
    m_pTimer->start(static_cast<int>(std::min<unsigned long long>(nMs, INT_MAX)));
}

void CTimer::Stop() {
    m_bActive = false;
    if (m_pTimer)
        m_pTimer->stop();
}

void CTimer::Wake(unsigned long long nNow) {
    if (!m_bActive)
        return;
    if (nNow < m_nDeadline) {
        m_nWakeAt = m_nDeadline;
        m_pTimer->start(
            static_cast<int>(std::min<unsigned long long>(m_nDeadline - nNow, INT_MAX)));
        return;
    }
    Fire();
}

void CTimer::Fire() {
    m_bActive = false;
    if (m_pTimer)
        m_pTimer->stop();
    if (m_handler)
        m_handler();
}

void CTimer::FireDue() {
    if (!g_testTicks)
        return;
    // Earliest first; a handler may arm timers again, or make and destroy
    // others, so the list is searched anew each time. Bounded: a handler that
    // re-arms for no time at all must not keep the test here.
    for (int nFired = 0; nFired < 100000; ++nFired) {
        CTimer* pDue = nullptr;
        for (CTimer* pTimer : g_timers)
            if (pTimer->m_bActive && pTimer->m_nDeadline <= *g_testTicks &&
                (!pDue || pTimer->m_nDeadline < pDue->m_nDeadline))
                pDue = pTimer;
        if (!pDue)
            return;
        pDue->Fire();
    }
}
