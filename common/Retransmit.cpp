#include "Retransmit.h"

#include <algorithm>
#include <cmath>

namespace tftp {

namespace {
constexpr double kClockGranularityMs = 1;
} // namespace

void RetransmitInterval::Sent(unsigned long long nNow, bool bAck) {
    m_nSentAt = nNow;
    m_bInFlight = true;
    m_bAck = bAck;
    m_nRetries = 0;
}

void RetransmitInterval::Resent(unsigned long long nNow) {
    m_nSentAt = nNow;
    m_bInFlight = true;
    ++m_nRetries;
}

void RetransmitInterval::Answered(unsigned long long nNow) {
    if (!m_bInFlight)
        return;
    m_bInFlight = false;
    if (m_nRetries > 0 || nNow < m_nSentAt)
        return;
    const double dSample = static_cast<double>(nNow - m_nSentAt);
    if (!m_bSampled) {
        m_dSmoothed = dSample;
        m_dVariation = dSample / 2;
        m_bSampled = true;
        return;
    }
    m_dVariation = 0.75 * m_dVariation + 0.25 * std::fabs(m_dSmoothed - dSample);
    m_dSmoothed = 0.875 * m_dSmoothed + 0.125 * dSample;
}

unsigned RetransmitInterval::Capped(unsigned long long nMs) const {
    nMs = std::clamp<unsigned long long>(nMs, kFloorMs, kCeilingMs);
    if (m_nCapMs != 0)
        nMs = std::min<unsigned long long>(nMs, m_nCapMs);
    return static_cast<unsigned>(nMs);
}

unsigned RetransmitInterval::EstimateMs() const {
    if (!m_bSampled)
        return Capped(kInitialMs);
    const double dMs = m_dSmoothed + std::max(kClockGranularityMs, 4 * m_dVariation);
    return Capped(static_cast<unsigned long long>(std::ceil(dMs)));
}

unsigned RetransmitInterval::CurrentMs() const {
    unsigned long long nMs = EstimateMs();
    int nDoublings = m_nRetries;
    if (m_bAck && m_nRetries > 0) {
        nMs = std::max<unsigned long long>(nMs, kPatientMs);
        --nDoublings;
    }
    for (int i = 0; i < nDoublings && nMs < kCeilingMs; ++i)
        nMs *= 2;
    return Capped(nMs);
}

void CRetransmitTimer::Sent(bool bAck) {
    m_interval.Sent(GetTickCount(), bAck);
    m_timer.Start(WaitMs());
}

void CRetransmitTimer::Resent() {
    m_interval.Resent(GetTickCount());
    m_timer.Start(WaitMs());
}

void CRetransmitTimer::Answered() {
    m_interval.Answered(GetTickCount());
}

void CRetransmitTimer::Postpone() {
    m_timer.Start(WaitMs());
}

} // namespace tftp
