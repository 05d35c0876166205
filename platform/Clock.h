#pragma once

#include <ctime>
#include <optional>

// Wall-clock time in whole seconds. Tests replace "now" with a value they
// step by hand, so time-outs of many seconds are checked without waiting.
class CTime {
public:
    CTime() = default;
    explicit CTime(time_t t) : m_time(t) {}

    static CTime GetCurrentTime();
    time_t GetTime() const { return m_time; }

    static void SetTestTime(std::optional<time_t> t);
    static void AdvanceTestTime(long nSeconds);

    friend bool operator==(const CTime&, const CTime&) = default;
    friend auto operator<=>(const CTime&, const CTime&) = default;

private:
    time_t m_time = 0;
};

// Milliseconds on a steady clock (it never jumps with the wall clock), for
// intervals shorter than a second. Tests fix it and step it by hand.
unsigned long long GetTickCount();
void SetTestTickCount(std::optional<unsigned long long> nTicks);
void AdvanceTestTickCount(unsigned long long nMilliseconds);
