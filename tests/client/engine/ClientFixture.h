#pragma once

#include "SkifferCore.h"
#include "TestSupport.h"
#include "TransferSocket.h"
#include "TransferView.h"

#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// The client's shared state with the status line recorded.
class RecordingSkiffer : public CSkifferCore {
public:
    void ShowStatus(const QString& strText) override { statuses << strText; }
    QString LastStatus() const { return statuses.isEmpty() ? QString() : statuses.last(); }
    QStringList statuses;
};

// A view that records what is posted to it, in the order it arrives, as
// the view's message for it and that message's two parameters.
class RecordingView : public CTransferView {
public:
    struct Posted {
        int nMessage;
        long wParam;
        long lParam;
        bool operator==(const Posted&) const = default;
    };
    QList<Posted> posted;

protected:
    void OnProgress(ProgressKind kind, long nBytes) override {
        posted << Posted{WM_CLIENT_PROGRESS, static_cast<long>(kind), nBytes};
    }
    void OnBlockSize(int nBlockSize) override {
        posted << Posted{WM_CLIENT_BLOCKSIZE, 0, nBlockSize};
    }
    void OnAddressChosen(const QString&) override { posted << Posted{WM_CLIENT_ADDRESS, 0, 0}; }
};

char* toString(const RecordingView::Posted& p);

// One client as the main view sets it up: settings in a fresh profile, the
// local address 127.0.0.1, inbound and outbound directory in a temporary
// folder, and a transfer object with its socket.
//
// With Ticks::Test its millisecond clock stands still unless the test moves
// it on, so the transfer's retransmission timer fires only when a test says
// so; against real servers it runs on the real clock.
struct ClientFixture {
    enum class Ticks { Test, Real };
    static constexpr unsigned long long kStartTicks = 70000;

    TempConfigHome config;
    QTemporaryDir dir;
    RecordingSkiffer core;
    RecordingView view;
    std::unique_ptr<CTransferSocket> pTransfer;

    explicit ClientFixture(Ticks ticks = Ticks::Real);
    ~ClientFixture();

    // Every transfer object of these tests is made here, posting to toView.
    std::unique_ptr<CTransferSocket> MakeTransfer(CTransferView& toView);
    // A fresh transfer object, set as the view sets it before a request.
    CTransferSocket& NewTransfer(int bSending, int nBlockSize = 512, int nTimeout = 10,
                                 int bSendTimeout = 0);
    CTransferSocket& T() { return *pTransfer; }
    // Moves the test clock on to when the transfer sends its packet in
    // flight again; false when nothing is in flight.
    bool FireRetransmission() const;

    QString Path(const QString& strName) const { return dir.path() + "/" + strName; }
    void WriteLocal(const QString& strName, const QByteArray& bytes) const;
    QByteArray ReadLocal(const QString& strName) const;

    // Pumps events until the transfer has ended; false after ms without end.
    bool WaitForEnd(int ms = 10000);
};

// Packets as a server sends them.
QByteArray Data(int nBlock, const QByteArray& payload);
QByteArray Ack(int nBlock);
QByteArray Oack(const QList<QByteArray>& items);
QByteArray ErrorPacket(int nCode, const QByteArray& text);
