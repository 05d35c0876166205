#pragma once

#include "Clock.h"

#include <functional>

namespace tftp {

// How long one side of a transfer waits for its peer's answer before it
// sends its last packet again (RFC 1123 asks for an adaptive time-out). The
// round trip is smoothed as RFC 6298 does, from packets answered at their
// first try only (Karn's rule: the answer to a packet sent twice may be the
// answer to either). Each retransmission of the same packet doubles the
// wait; a new packet goes back to the estimate.
//
// An ACK goes again soon once, then patiently: the sender of the block it
// waits for is the one that should send again, and common senders (those of
// tftp-hpa among them) start their own wait afresh with every repeated ACK,
// so a quick run of them would keep the lost block from ever going again.
// The first repeat brings it at once from senders that answer a repeated
// ACK with the block; the later ones only rescue a transfer whose sender has
// fallen silent.
class RetransmitInterval {
public:
    static constexpr unsigned kInitialMs = 1000; // before any round trip is known
    static constexpr unsigned kFloorMs = 50;
    static constexpr unsigned kCeilingMs = 60000;
    static constexpr unsigned kPatientMs = 8000; // an ACK's second and later repeats

    // The peer's own time-out (its "timeout" option): never waited longer
    // than that. 0: no cap.
    void SetCapMs(unsigned nMs) { m_nCapMs = nMs; }

    // A new packet went out at nNow (milliseconds); bAck: an acknowledgement,
    // sent again patiently.
    void Sent(unsigned long long nNow, bool bAck = false);
    // The packet in flight went out again at nNow.
    void Resent(unsigned long long nNow);
    // The peer answered the packet in flight at nNow.
    void Answered(unsigned long long nNow);

    // The wait for the packet in flight.
    unsigned CurrentMs() const;
    // When the packet in flight last went out.
    unsigned long long SentAt() const { return m_nSentAt; }

private:
    // The wait for a packet sent once, from what the link has shown so far.
    unsigned EstimateMs() const;
    unsigned Capped(unsigned long long nMs) const;

    unsigned m_nCapMs = 0;
    unsigned long long m_nSentAt = 0;
    bool m_bInFlight = false;
    bool m_bAck = false;
    int m_nRetries = 0;
    bool m_bSampled = false;
    double m_dSmoothed = 0;
    double m_dVariation = 0;
};

// The one retransmission timer of a transfer, run on the interval above:
// armed with every new packet, armed again (for twice as long) with every
// retransmission, stopped when nothing is in flight.
class CRetransmitTimer {
public:
    explicit CRetransmitTimer(std::function<void()> onDue) : m_timer(std::move(onDue)) {}

    void SetCapMs(unsigned nMs) { m_interval.SetCapMs(nMs); }
    // Waits nFactor times the interval before it fires: a windowed receiver
    // leaves the first go to the sender, whose timer is the one that resends.
    void SetSlack(unsigned nFactor) { m_nSlack = nFactor < 1 ? 1 : nFactor; }
    void Sent(bool bAck = false);
    void Resent();
    // The peer answered: the round trip is sampled; what is sent next arms
    // the timer again.
    void Answered();
    // Waits the current interval again without sending, while no answer can
    // be taken (a message box is open).
    void Postpone();
    void Stop() { m_timer.Stop(); }
    // The tick count it is due at; 0 while it is stopped.
    unsigned long long DueAt() const { return m_timer.IsActive() ? m_timer.Deadline() : 0; }
    // When the packet in flight last went out (tick count).
    unsigned long long SentAt() const { return m_interval.SentAt(); }

private:
    unsigned WaitMs() const { return m_interval.CurrentMs() * m_nSlack; }

    RetransmitInterval m_interval;
    CTimer m_timer;
    unsigned m_nSlack = 1;
};

} // namespace tftp
