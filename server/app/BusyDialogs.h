#pragma once

#include "WharfCore.h"

#include <QDialog>
#include <QPointer>
#include <functional>

// "Executive decision time ...": the server is busy, drop or keep clients.
// Modeless, without a system menu; Enter and Escape act as the buttons.
class CBusyDlgBase : public QDialog {
    Q_OBJECT
public:
    // The answer: true for "Drop Clients", false for "Keep Clients".
    using Answer = std::function<void(bool bDropClients)>;
    // The texts, then what the two buttons do in this case.
    CBusyDlgBase(const QStringList& texts, const QString& strDropHelp, const QString& strKeepHelp,
                 Answer onAnswer);
    void accept() override; // "Drop Clients"
    void reject() override; // "Keep Clients"

private:
    Answer m_onAnswer;
};

class CPortChangeDlg : public CBusyDlgBase {
    Q_OBJECT
public:
    explicit CPortChangeDlg(Answer onAnswer);
};

class CStopServingDlg : public CBusyDlgBase {
    Q_OBJECT
public:
    explicit CStopServingDlg(Answer onAnswer);
};

// The dialog as serving control holds it: deleting it closes the window.
class CBusyDialogWindow : public CBusyDialog {
public:
    // onAnswer is told which button was pressed (no button acts without it).
    explicit CBusyDialogWindow(BusyDialogKind kind, CBusyDlgBase::Answer onAnswer = {});
    ~CBusyDialogWindow() override;
    void ShowDialog() override;
    QDialog* Window() const { return m_pWindow; }

private:
    QPointer<QDialog> m_pWindow;
};
