#include "ServerFixture.h"

#include "Clock.h"

#include <QDir>
#include <QFile>

ServerFixture::ServerFixture(Ticks ticks) {
    if (ticks == Ticks::Test)
        SetTestTickCount(kStartTicks);
    outDir = root.path() + "/out/";
    inDir = root.path() + "/in/";
    QDir().mkpath(outDir);
    QDir().mkpath(inDir);
    core.m_strOutPath = outDir;
    core.m_strInPath = inDir;
    nPort = FreeUdpPort();
    core.m_strPort = QString::number(nPort);
    pListener = new CListenSocket(core);
    core.m_pListener = pListener;
    if (!pListener->StartListening())
        qFatal("listener did not start");
}

ServerFixture::~ServerFixture() {
    delete pListener;
    core.m_pListener = nullptr;
    SetTestTickCount(std::nullopt);
}

bool ServerFixture::FireRetransmission(int nSlot) const {
    const CClientSession* pSession = Session(nSlot);
    return AdvanceTestTicksTo(pSession ? pSession->RetransmissionDue() : 0);
}

void ServerFixture::WriteOut(const QString& name, const QByteArray& bytes) const {
    QFile file(outDir + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write test file");
}

QByteArray ServerFixture::ReadIn(const QString& name) const {
    QFile file(inDir + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<QByteArray> RawClient::Request(const QByteArray& request, int ms) {
    peer.SendTo(nServerPort, request);
    auto answer = peer.Receive(ms, &nSessionPort);
    return answer;
}

std::optional<QByteArray> RawClient::Exchange(const QByteArray& datagram, int ms) {
    Send(datagram);
    return Next(ms);
}

std::optional<QByteArray> RawClient::Next(int ms) {
    return peer.Receive(ms);
}

QByteArray Ack(unsigned nBlock) {
    QByteArray packet("\0\4", 2);
    packet.append(char((nBlock >> 8) & 0xFF)).append(char(nBlock & 0xFF));
    return packet;
}

QByteArray Data(unsigned nBlock, const QByteArray& bytes) {
    QByteArray packet("\0\3", 2);
    packet.append(char((nBlock >> 8) & 0xFF)).append(char(nBlock & 0xFF));
    return packet + bytes;
}

QByteArray ErrorPacket(unsigned nCode, const char* text) {
    QByteArray packet("\0\5", 2);
    packet.append(char(nCode >> 8)).append(char(nCode & 0xFF));
    return packet.append(text).append('\0');
}

QByteArray Oack(const QList<QByteArray>& entries) {
    QByteArray packet("\0\6", 2);
    for (const QByteArray& item : entries)
        packet.append(item).append('\0');
    return packet;
}
