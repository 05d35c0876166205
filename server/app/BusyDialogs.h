#pragma once

#include "WharfCore.h"

#include <QDialog>
#include <QPointer>

// "Executive decision time ...": the server is busy, drop or keep clients.
// Modeless, without a system menu; Enter and Escape act as the buttons.
class CBusyDlgBase : public QDialog {
    Q_OBJECT
public:
    // The texts, then what the two buttons do in this case.
    CBusyDlgBase(const QStringList& texts, const QString& strDropHelp, const QString& strKeepHelp);
    void accept() override; // "Drop Clients"
    void reject() override; // "Keep Clients"
};

class CPortChangeDlg : public CBusyDlgBase {
    Q_OBJECT
public:
    CPortChangeDlg();
};

class CStopServingDlg : public CBusyDlgBase {
    Q_OBJECT
public:
    CStopServingDlg();
};

// The dialog as serving control holds it: deleting it closes the window.
class CBusyDialogWindow : public CBusyDialog {
public:
    explicit CBusyDialogWindow(BusyDialogKind kind);
    ~CBusyDialogWindow() override;
    void ShowDialog() override;
    QDialog* Window() const { return m_pWindow; }

private:
    QPointer<QDialog> m_pWindow;
};
