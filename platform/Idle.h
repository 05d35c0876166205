#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

// Idle processing with the classic contract: the handler runs when the event
// queue is empty, with a count that restarts at 0 after each message and
// grows by one with each further call while the handler returns true.
//
// The classic loop calls the handler back to back, which would keep a core
// busy for as long as a transfer waits. Here the calls come in bursts of 128
// (so every count range that handlers test by bit, such as 64 to 127, is
// reached within one burst, whatever other timers do) separated by a short
// pause: a silent wait costs a fraction of a percent of a core, and a check
// made at idle time still runs about twice a second.
class CIdleDriver : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<bool(long lCount)>;

    static constexpr int kBurst = 128;
    static constexpr int kPauseMs = 400;

    explicit CIdleDriver(Handler handler, QObject* parent = nullptr);
    ~CIdleDriver() override;

    long Count() const { return m_lCount; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void RunIdle();
    void Schedule(int nDelayMs);

    Handler m_handler;
    QTimer m_timer;
    long m_lCount = 0;
    bool m_bInHandler = false;
};

// The idle behaviour both programs' application objects share.
class CWinAppCore {
public:
    virtual ~CWinAppCore() = default;
    // The framework's own idle work: one call after each message.
    virtual bool OnIdle(long lCount) { return lCount < 1; }
};
