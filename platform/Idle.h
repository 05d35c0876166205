#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

// Idle processing with the classic contract: the handler runs when the event
// queue is empty, with a count that restarts at 0 after each message and
// grows by one with each further call while the handler returns true.
//
// The classic loop calls the handler back to back for as long as it wants
// more, which would keep a core busy while a transfer waits, and would poll
// between every two blocks of a running one. Here the calls come in bursts of
// 128, made back to back in one go (so every count range that handlers test
// by bit, such as 64 to 127, is reached within one burst), and a handler that
// still wants more gets its next burst after a pause that messages do not cut
// short; in the pause, the one call a message is owed (count 0) is made when
// the event loop is about to sleep, which costs no trip of its own. Between
// bursts the event loop sleeps until a datagram, a timer or a window event is
// due; a check made at idle time runs four times a second.
class CIdleDriver : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<bool(long lCount)>;

    static constexpr int kBurst = 128;
    static constexpr int kPauseMs = 250;

    explicit CIdleDriver(Handler handler, QObject* parent = nullptr);
    ~CIdleDriver() override;

    long Count() const { return m_lCount; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void RunIdle();
    void RunAfterMessage();

    Handler m_handler;
    QTimer m_timer;
    long m_lCount = 0;
    bool m_bInHandler = false;
    bool m_bMessageSince = false; // a message came since the handler last ran
};

// The idle behaviour both programs' application objects share.
class CWinAppCore {
public:
    virtual ~CWinAppCore() = default;
    // The framework's own idle work: one call after each message.
    virtual bool OnIdle(long lCount) { return lCount < 1; }
};
