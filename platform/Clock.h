#pragma once

#include <ctime>
#include <functional>
#include <optional>

class QTimer;

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

// A one-shot timer on the steady clock of GetTickCount. Re-arming it for a
// later time than the event loop is already set to wake it at costs only a
// store (it then sleeps on to the new time), so a transfer may re-arm it with
// every packet. While the test tick count is set it fires only as the test
// moves that count on, so waits of seconds are tested without waiting.
class CTimer {
public:
    using Handler = std::function<void()>;

    explicit CTimer(Handler handler);
    ~CTimer();
    CTimer(const CTimer&) = delete;
    CTimer& operator=(const CTimer&) = delete;

    // Fires once, nMs milliseconds from now; an earlier arming is replaced.
    void Start(unsigned long long nMs);
    void Stop();
    bool IsActive() const { return m_bActive; }
    // The tick count it fires at while active.
    unsigned long long Deadline() const { return m_nDeadline; }

private:
    friend void SetTestTickCount(std::optional<unsigned long long>);
    friend void AdvanceTestTickCount(unsigned long long);
    static void FireDue();
    void Wake(unsigned long long nNow);
    void Fire();

    Handler m_handler;
    QTimer* m_pTimer = nullptr; // made the first time it is armed on a real clock
    unsigned long long m_nDeadline = 0;
    unsigned long long m_nWakeAt = 0; // when m_pTimer goes off
    bool m_bActive = false;
};
