#include "Idle.h"

#include <QCoreApplication>
#include <QEvent>

CIdleDriver::CIdleDriver(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CIdleDriver::RunIdle);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
    Schedule(0);
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
            Schedule(0);
        }
        break;
    }
    return false;
}

void CIdleDriver::Schedule(int nDelayMs) {
    if (m_timer.isActive() && m_timer.remainingTime() <= nDelayMs)
        return;
    m_timer.start(nDelayMs);
}

void CIdleDriver::RunIdle() {
    m_bInHandler = true;
    long lCount = m_lCount;
    bool bMore = m_handler ? m_handler(lCount) : false;
    m_bInHandler = false;
    if (!bMore)
        return; // quiet until the next message
    m_lCount = lCount + 1;
    Schedule((m_lCount % kBurst) == 0 ? kPauseMs : 0);
}
