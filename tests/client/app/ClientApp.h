#pragma once

// One start of the whole client program on the offscreen platform, with its
// own profile and a folder for its files, on 127.0.0.1.
#include "HostAddresses.h"
#include "MainFrame.h"
#include "MessageBox.h"
#include "ModalDialog.h"
#include "Registry.h"
#include "SkifferApp.h"
#include "SkifferView.h"
#include "TestSupport.h"
#include "TransferSocket.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

using ProfileEntries = QMap<QString, QString>;

struct ClientApp {
    TempConfigHome home;
    QTemporaryDir files;
    std::unique_ptr<CSkifferApp> app;
    QStringList dialogs; // object names of the modal dialogs run, in order

    // Profile entries as "Section/Key" = value, written before the start.
    explicit ClientApp(const QMap<QString, QString>& profile = {}) {
        SetHostAddressProvider([] { return std::optional(QStringList{"127.0.0.1"}); });
        for (auto it = profile.begin(); it != profile.end(); ++it)
            CProfile(CSkifferCore::ProfilePath())
                .WriteProfileString(it.key().section('/', 0, 0), it.key().section('/', 1),
                                    it.value());
        SetModalRunner([this](QDialog& dialog) {
            dialogs << dialog.objectName();
            return script ? script(dialog) : int(QDialog::Rejected);
        });
        app = std::make_unique<CSkifferApp>();
        if (!app->InitInstance())
            qFatal("the client did not start");
    }
    ~ClientApp() {
        app.reset();
        SetModalRunner(nullptr);
        SetHostAddressProvider(nullptr);
    }
    ClientApp(const ClientApp&) = delete;
    ClientApp& operator=(const ClientApp&) = delete;

    // Answers the modal dialogs; without it they are cancelled.
    std::function<int(QDialog&)> script;

    CMainFrame* Frame() const { return app->MainFrame(); }
    CSkifferView* View() const { return app->View(); }
    template <typename T> T* Control(int nId) const {
        T* p = Frame()->findChild<T*>(QString::number(nId));
        if (!p)
            qFatal("no control %d", nId);
        return p;
    }
    QLineEdit* Edit(int nId) const { return Control<QLineEdit>(nId); }
    QString Text(int nId) const { return Edit(nId)->text(); }

    // Replaces a field's text the way a user does: select all, type.
    void Type(int nId, const QString& text) const {
        QLineEdit* pEdit = Edit(nId);
        pEdit->setFocus();
        pEdit->selectAll();
        if (text.isEmpty())
            QTest::keyClick(pEdit, Qt::Key_Delete);
        else
            QTest::keyClicks(pEdit, text);
    }
    void SetBlockSize(const QString& text) const { Control<QComboBox>(1019)->setEditText(text); }
    void Click(int nId) const { QTest::mouseClick(Control<QPushButton>(nId), Qt::LeftButton); }

    // The form as a user fills it for one transfer.
    void Fill(const QString& host, uint16_t nPort, const QString& local,
              const QString& remote) const {
        Type(1000, host);
        Type(1001, QString::number(nPort));
        Type(1002, local);
        Type(1007, remote);
    }

    CTransferSocket* Transfer() const { return View()->Transfer(); }
    bool Running() const { return Transfer() && Transfer()->m_bActive; }
    // Runs the program until the transfer has ended; false after ms.
    bool WaitForEnd(int ms = 20000) const {
        QDeadlineTimer deadline(ms);
        while (Running() && !deadline.hasExpired())
            PumpEvents(10);
        PumpEvents(20);
        return !Running();
    }
    QString Status() const { return Frame()->MessagePane()->text(); }
    QString Stored(const QString& section, const QString& key) const {
        return CProfile(CSkifferCore::ProfilePath()).GetProfileString(section, key);
    }
    QString Path(const QString& name) const { return files.path() + "/" + name; }
    void Write(const QString& name, const QByteArray& bytes) const {
        QFile file(Path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(name));
    }
    QByteArray Read(const QString& name) const {
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
};
