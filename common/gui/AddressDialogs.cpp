#include "AddressDialogs.h"

#include "HelpWindow.h"
#include "ModalDialog.h"
#include "WindowCaption.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {
// A list with nothing selected shows no focus mark on any entry: the mark on
// the first entry looked like a choice already made.
class CNoFocusWithoutSelection : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* pOption, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(pOption, index);
        const auto* pView = qobject_cast<const QAbstractItemView*>(parent());
        if (pView && pView->selectionModel() && !pView->selectionModel()->hasSelection())
            pOption->state &= ~QStyle::State_HasFocus;
    }
};
} // namespace

CMultihomedDlg::CMultihomedDlg(const QStringList& addresses, AddressRole role, QWidget* pParent)
    : QDialog(pParent) {
    setWindowTitle(role == AddressRole::Server
                       ? "Multihomed Host - Please select Servers Host Address"
                       : "Multihomed Host - Please select Clients Host Address");
    auto* pLayout = new QVBoxLayout(this);
    m_pList = new QListWidget;
    m_pList->setObjectName("1034");
    m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_pList->addItems(addresses);
    m_pList->setCurrentRow(-1);
    m_pList->clearSelection();
    m_pList->setItemDelegate(new CNoFocusWithoutSelection(m_pList));
    m_pList->setAccessibleName(windowTitle());
    m_pList->setWhatsThis(role == AddressRole::Server
                              ? "This machine's addresses. Click the one the clients will send "
                                "to; 127.0.0.1 only serves programs on this machine."
                              : "This machine's addresses. Click the one on the server's "
                                "network; 127.0.0.1 only for a server on this machine.");
    setWhatsThis(m_pList->whatsThis());
    AddWhatsThisKey(this);
    pLayout->addWidget(m_pList);
    if (role == AddressRole::Server) {
        m_pDontAsk = new QCheckBox("Do not show this box again");
        m_pDontAsk->setObjectName("1035");
        m_pDontAsk->setWhatsThis("Tick to use the same choice at every start without asking. "
                                 "System, Setup, Options can make the server ask again.");
        pLayout->addWidget(m_pDontAsk);
    }
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok);
    pButtons->button(QDialogButtonBox::Ok)->setObjectName("1");
    pButtons->button(QDialogButtonBox::Ok)
        ->setWhatsThis("Uses the address chosen; with none chosen, the first in the list.");
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    pLayout->addWidget(pButtons);
    // The caption is the dialog's only instruction: it must show in full.
    setMinimumWidth(CaptionWidth(windowTitle(), font()));
}

void CMultihomedDlg::accept() {
    const auto selected = m_pList->selectedItems();
    m_nSelected = selected.isEmpty() ? -1 : m_pList->row(selected.first());
    m_bDontAskAgain = m_pDontAsk && m_pDontAsk->isChecked() ? 1 : 0;
    QDialog::accept();
}

CListenAddressDlg::CListenAddressDlg(AddressRole role, QWidget* pParent) : QDialog(pParent) {
    setWindowTitle("Listening Address");
    auto* pLayout = new QVBoxLayout(this);
    auto* pIntro = new QLabel(
        "Because either your local host name or I.P. address could not be determined "
        "automatically you now have the chance to enter the I.P. manually.\nThe I.P Address "
        "should be entered in dotted decimal format, i.e. 192.168.0.20");
    pIntro->setWordWrap(true);
    pLayout->addWidget(pIntro);
    auto* pRow = new QHBoxLayout;
    auto* pLabel = new QLabel("Server I.P. Address");
    pRow->addWidget(pLabel);
    m_pEdit = new QLineEdit;
    m_pEdit->setObjectName("1006");
    m_pEdit->setAccessibleName(pLabel->text());
    m_pEdit->setWhatsThis("One of this machine's own addresses, as four numbers separated by "
                          "dots, such as 192.168.0.20.");
    pLabel->setWhatsThis(m_pEdit->whatsThis());
    setWhatsThis("This machine's addresses could not be found: type the one to use.");
    AddWhatsThisKey(this);
    pLabel->setBuddy(m_pEdit);
    pRow->addWidget(m_pEdit);
    pLayout->addLayout(pRow);
    const char* pszWarning =
        role == AddressRole::Server
            ? "It should be noted that specifying an unusable address will prevent the server "
              "from operating, you must specify an address that your system recognises, simply "
              "entering any number that comes to mind does not usually work !"
            : "It should be noted that specifying an unusable address will prevent the client "
              "from operating, you must specify an address that your system recognises, simply "
              "entering any number that comes to mind does not usually work !";
    auto* pWarning = new QLabel(pszWarning);
    pWarning->setWordWrap(true);
    pLayout->addWidget(pWarning);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    pButtons->button(QDialogButtonBox::Ok)->setObjectName("1");
    pButtons->button(QDialogButtonBox::Cancel)->setObjectName("2");
    pButtons->button(QDialogButtonBox::Ok)->setWhatsThis("Uses the address typed.");
    pButtons->button(QDialogButtonBox::Cancel)
        ->setWhatsThis(role == AddressRole::Server
                           ? "Gives up: the server cannot start without an address."
                           : "Gives up: the transfer cannot go ahead without an address.");
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    pLayout->addWidget(pButtons);
    setMinimumWidth(420);
}

void CListenAddressDlg::accept() {
    m_strAddress = m_pEdit->text();
    QDialog::accept();
}

void InstallAddressDialogs() {
    LocalAddressDialogs dialogs;
    dialogs.multihomed = [](const QStringList& addresses, AddressRole role) {
        MultihomedAnswer answer;
        CMultihomedDlg dialog(addresses, role);
        answer.bOk = DoModal(dialog) == QDialog::Accepted;
        answer.nSelected = dialog.m_nSelected;
        answer.bDontAskAgain = dialog.m_bDontAskAgain != 0;
        return answer;
    };
    dialogs.manualEntry = [](AddressRole role) -> std::optional<QString> {
        CListenAddressDlg dialog(role);
        if (DoModal(dialog) != QDialog::Accepted)
            return std::nullopt;
        return dialog.m_strAddress;
    };
    SetLocalAddressDialogs(dialogs);
}
