#pragma once

#include "HostAddresses.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

// A settings file and served folders for one start of the whole program,
// listening on 127.0.0.1 and a free port.
struct AppSetup {
    TempConfigHome home;
    QTemporaryDir files;
    uint16_t nPort = FreeUdpPort();

    AppSetup() {
        QDir().mkpath(home.Path() + "/Harnwick");
        for (const char* dir : {"/out", "/in", "/other"})
            QDir().mkpath(files.path() + dir);
        QSettings file(IniPath(), QSettings::IniFormat);
        file.setValue("Port", QString::number(nPort));
        file.setValue("OutPath", files.path() + "/out/");
        file.setValue("InPath", files.path() + "/in/");
        file.setValue("bDisplay", 1);
        file.setValue("bDelete", 14);
        SetHostAddressProvider([] { return std::optional(QStringList{"127.0.0.1"}); });
    }
    ~AppSetup() { SetHostAddressProvider(nullptr); }
    AppSetup(const AppSetup&) = delete;
    AppSetup& operator=(const AppSetup&) = delete;

    QString IniPath() const { return home.Path() + "/Harnwick/Wharfkeep.ini"; }
    QVariant Stored(const QString& name) const {
        return QSettings(IniPath(), QSettings::IniFormat).value(name);
    }
    void Write(const QString& relative, const QByteArray& bytes) const {
        QFile file(files.path() + "/" + relative);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(relative));
    }
};
