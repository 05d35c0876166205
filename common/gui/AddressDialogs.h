#pragma once

#include "LocalAddress.h"

#include <QDialog>

class QCheckBox;
class QListWidget;
class QLineEdit;

// "Multihomed Host - Please select ... Host Address": pick one of the host's
// addresses. Only the server's copy has "Do not show this box again".
class CMultihomedDlg : public QDialog {
    Q_OBJECT
public:
    CMultihomedDlg(const QStringList& addresses, AddressRole role, QWidget* pParent = nullptr);

    int m_nSelected = 0;
    int m_bDontAskAgain = 0;
    QListWidget* m_pList = nullptr;  // control 1034
    QCheckBox* m_pDontAsk = nullptr; // control 1035 (server only)

    void accept() override;
};

// "Listening Address": an address typed by hand when the host's own cannot
// be found. What is typed is not checked here.
class CListenAddressDlg : public QDialog {
    Q_OBJECT
public:
    explicit CListenAddressDlg(AddressRole role, QWidget* pParent = nullptr);

    QString m_strAddress;
    QLineEdit* m_pEdit = nullptr; // control 1006

    void accept() override;
};

// Shows the two dialogs for the address choice (unless there is no screen,
// where they count as closed without OK).
void InstallAddressDialogs();
