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
