#include "ClientFixture.h"

#include "HostAddresses.h"

#include <QEventLoop>
#include <QFile>
#include <QTest>
#include <QTimer>

char* toString(const RecordingView::Posted& p) {
    return QTest::toString(QString::asprintf("(%d, %ld, %ld)", p.nMessage, p.wParam, p.lParam));
}

ClientFixture::ClientFixture(Ticks ticks) {
    if (ticks == Ticks::Test)
        SetTestTickCount(kStartTicks);
    SetHostAddressProvider([] { return std::optional<QStringList>(QStringList{"127.0.0.1"}); });
    core.m_strInbound = dir.path() + "/";
    core.m_strOutbound = dir.path() + "/";
}

ClientFixture::~ClientFixture() {
    pTransfer.reset();
    SetHostAddressProvider(nullptr);
    CAsyncSocket::SetBufferSizeHook(nullptr);
    CTime::SetTestTime(std::nullopt);
    SetTestTickCount(std::nullopt);
    PumpEvents(0);
}

bool ClientFixture::FireRetransmission() const {
    return AdvanceTestTicksTo(pTransfer ? pTransfer->RetransmissionDue() : 0);
}

std::unique_ptr<CTransferSocket> ClientFixture::MakeTransfer(CTransferView& toView) {
    return std::make_unique<CTransferSocket>(core, &toView);
}

CTransferSocket& ClientFixture::NewTransfer(int bSending, int nBlockSize, int nTimeout,
                                            int bSendTimeout) {
    pTransfer.reset();
    pTransfer = MakeTransfer(view);
    if (!pTransfer->CreateTransferSocket())
        qFatal("no transfer socket");
    pTransfer->m_bDroppedPath = 0;
    pTransfer->m_bSending = bSending;
    pTransfer->m_nTimeout = nTimeout;
    pTransfer->m_nBlockSize = nBlockSize;
    pTransfer->m_bSendTimeout = bSendTimeout;
    return *pTransfer;
}

void ClientFixture::WriteLocal(const QString& strName, const QByteArray& bytes) const {
    QFile file(Path(strName));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write test file");
}

QByteArray ClientFixture::ReadLocal(const QString& strName) const {
    QFile file(Path(strName));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool ClientFixture::WaitForEnd(int ms) {
    // A real event loop: datagrams are handled the moment they arrive.
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!pTransfer->m_bActive)
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    poll.start(2);
    if (pTransfer->m_bActive)
        loop.exec();
    PumpEvents(0);
    return !pTransfer->m_bActive;
}

namespace {
QByteArray Word(int n) {
    QByteArray w;
    w.append(char((n >> 8) & 0xFF)).append(char(n & 0xFF));
    return w;
}
} // namespace

QByteArray Data(int nBlock, const QByteArray& payload) {
    return Word(3) + Word(nBlock) + payload;
}

QByteArray Ack(int nBlock) {
    return Word(4) + Word(nBlock);
}

QByteArray Oack(const QList<QByteArray>& items) {
    QByteArray packet = Word(6);
    for (const QByteArray& item : items)
        packet.append(item).append('\0');
    return packet;
}

QByteArray ErrorPacket(int nCode, const QByteArray& text) {
    return Word(5) + Word(nCode) + text + QByteArray(1, '\0');
}
