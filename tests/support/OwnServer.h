#pragma once

// Our own server engine serving one temporary folder for reads and writes on
// 127.0.0.1 and a free port. Header only: tests that include it link the
// server engine.
#include "HostAddresses.h"
#include "ListenSocket.h"
#include "TestSupport.h"
#include "WharfCore.h"

#include <QFile>
#include <QTemporaryDir>

struct OwnServer {
    CWharfCore core;
    QTemporaryDir dir;
    CListenSocket* pListener = nullptr;
    uint16_t nPort;

    // On a free port, or on the one given (sockets of a hooked network have
    // no real port, and a free one might be one they make up).
    explicit OwnServer(uint16_t nGivenPort = 0) : nPort(nGivenPort ? nGivenPort : FreeUdpPort()) {
        SetHostAddressProvider([] { return std::optional<QStringList>(QStringList{"127.0.0.1"}); });
        core.m_strInPath = core.m_strOutPath = dir.path() + "/";
        core.m_strPort = QString::number(nPort);
        core.m_pListener = pListener = new CListenSocket(core);
        if (!pListener->StartListening())
            qFatal("server engine did not start");
    }
    void Put(const QString& name, const QByteArray& bytes) const {
        QFile file(dir.path() + "/" + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write served file");
    }
    QByteArray Get(const QString& name) const {
        QFile file(dir.path() + "/" + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
};
