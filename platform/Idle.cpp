#include "Idle.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>

CIdleDriver::CIdleDriver(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CIdleDriver::RunIdle);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
    if (QAbstractEventDispatcher* pDispatcher = QAbstractEventDispatcher::instance())
        connect(pDispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                &CIdleDriver::RunAfterMessage);
    m_timer.start(0);
}

CIdleDriver::~CIdleDriver() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

bool CIdleDriver::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    // Painting and plain pointer motion are not messages that end idle time.
    case QEvent::Paint:
    case QEvent::UpdateRequest:
    case QEvent::UpdateLater:
    case QEvent::LayoutRequest:
    case QEvent::MouseMove:
    case QEvent::HoverMove:
        break;
    case QEvent::Timer:
        if (watched == &m_timer)
            break;
        [[fallthrough]];
    default:
        if (!m_bInHandler) {
            m_lCount = 0;
            m_bMessageSince = true;
            // A pause already running is left alone: restarting it at every
            // datagram is what made a transfer poll between its blocks.
            if (!m_timer.isActive())
                m_timer.start(0);
        }
        break;
    }
    return false;
}

void CIdleDriver::RunAfterMessage() {
    // Only while a pause runs: otherwise a zero-delay pass is due, which
    // makes this call itself.
    if (!m_bMessageSince || m_bInHandler || !m_handler || !m_timer.isActive() ||
        m_timer.interval() == 0)
        return;
    m_bMessageSince = false;
    m_bInHandler = true;
    const bool bMore = m_handler(m_lCount);
    m_bInHandler = false;
    if (bMore)
        ++m_lCount;
    else
        m_timer.stop(); // quiet until the next message
}

void CIdleDriver::RunIdle() {
    if (!m_handler)
        return;
    m_bMessageSince = false;
    m_bInHandler = true;
    bool bMore = true;
    // One burst, back to back: the calls are cheap, and a loop of them costs
    // no trip through the event loop each.
    do {
        bMore = m_handler(m_lCount);
        if (bMore)
            ++m_lCount;
    } while (bMore && m_lCount % kBurst != 0);
    m_bInHandler = false;
    if (bMore)
        m_timer.start(kPauseMs); // quiet until the pause ends, whatever arrives
}
