#include "BusyDialogs.h"

#include "HelpWindow.h"
#include "WharfApp.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

CBusyDlgBase::CBusyDlgBase(const QStringList& texts, const QString& strDropHelp,
                           const QString& strKeepHelp, Answer onAnswer)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_onAnswer(std::move(onAnswer)) {
    setWindowTitle("Executive decision time ...");
    setWhatsThis("Clients are being served: drop them now, or let them finish. Waiting does no "
                 "harm; the transfers go on meanwhile.");
    AddWhatsThisKey(this);
    // Closing the frame ends the program even while this dialog waits.
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* pLayout = new QVBoxLayout(this);
    for (const QString& text : texts) {
        auto* pLabel = new QLabel(text);
        pLabel->setWordWrap(true);
        pLayout->addWidget(pLabel);
    }
    auto* pButtons = new QHBoxLayout;
    auto* pDrop = new QPushButton("Drop Clients");
    pDrop->setObjectName("1");
    pDrop->setDefault(true);
    pDrop->setWhatsThis(strDropHelp);
    auto* pKeep = new QPushButton("Keep Clients");
    pKeep->setObjectName("2");
    pKeep->setWhatsThis(strKeepHelp);
    connect(pDrop, &QPushButton::clicked, this, &CBusyDlgBase::accept);
    connect(pKeep, &QPushButton::clicked, this, &CBusyDlgBase::reject);
    pButtons->addStretch();
    pButtons->addWidget(pDrop);
    pButtons->addWidget(pKeep);
    pButtons->addStretch();
    pLayout->addLayout(pButtons);
    setFixedWidth(380);
}

// Neither button ends the dialog itself: the restart closes it.
void CBusyDlgBase::accept() {
    if (m_onAnswer)
        m_onAnswer(true);
}

void CBusyDlgBase::reject() {
    if (m_onAnswer)
        m_onAnswer(false);
}

CPortChangeDlg::CPortChangeDlg(Answer onAnswer)
    : CBusyDlgBase({"The server is currently busy, if you press the 'Drop Clients' button now all "
                    "existing connections will be dropped and the new port assignment will take "
                    "place",
                    "Pressing the 'Keep Clients' button will mean the new port will only take "
                    "effect after the server is re-started",
                    "If you wait and do nothing with this dialog box then as soon as all clients "
                    "are finished then the listening port will change automatically"},
                   "Drop Clients (Enter): ends every running transfer now, without telling the "
                   "clients, and moves the server to the new port.",
                   "Keep Clients (Escape): the transfers finish; the server stays on the old "
                   "port until the program is started again.",
                   std::move(onAnswer)) {
    setObjectName("133");
}

CStopServingDlg::CStopServingDlg(Answer onAnswer)
    : CBusyDlgBase({"The server is currently busy, if you press the 'Drop Clients' button now all "
                    "existing connections will be dropped and the server will no longer serve",
                    "Pressing the 'Keep Clients' button will simply prevent the server from "
                    "serving new clients"},
                   "Drop Clients (Enter): ends every running transfer now, without telling the "
                   "clients; new clients are refused.",
                   "Keep Clients (Escape): the running transfers finish; new clients are "
                   "refused.",
                   std::move(onAnswer)) {
    setObjectName("134");
}

CBusyDialogWindow::CBusyDialogWindow(BusyDialogKind kind, CBusyDlgBase::Answer onAnswer) {
    if (kind == BusyDialogKind::PortChange)
        m_pWindow = new CPortChangeDlg(std::move(onAnswer));
    else
        m_pWindow = new CStopServingDlg(std::move(onAnswer));
}

CBusyDialogWindow::~CBusyDialogWindow() {
    if (m_pWindow) {
        // Later: this may run inside one of the dialog's own buttons.
        m_pWindow->hide();
        m_pWindow->deleteLater();
    }
}

void CBusyDialogWindow::ShowDialog() {
    if (!m_pWindow)
        return;
    m_pWindow->adjustSize();
    if (QScreen* pScreen = QGuiApplication::primaryScreen()) {
        QRect frame = m_pWindow->frameGeometry();
        frame.moveCenter(pScreen->availableGeometry().center());
        m_pWindow->move(frame.topLeft());
    }
    m_pWindow->showNormal();
    m_pWindow->raise();
}
