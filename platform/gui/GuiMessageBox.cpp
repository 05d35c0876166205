#include "GuiMessageBox.h"

#include "MessageBox.h"
#include "WindowCaption.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace {
int Run(QMessageBox& box) {
    // A message box sizes itself to its text and buttons alone; with a
    // short text the program's name in the caption would be cut. The box
    // lays itself out anew with each setting, so this comes last.
    if (auto* pGrid = qobject_cast<QGridLayout*>(box.layout()))
        pGrid->addItem(new QSpacerItem(CaptionWidth(AppTitle(), box.font()), 0,
                                       QSizePolicy::Minimum, QSizePolicy::Minimum),
                       pGrid->rowCount(), 0, 1, pGrid->columnCount());
    return box.exec();
}

int ShowMessageBox(const QString& text, unsigned type) {
    QMessageBox box;
    box.setWindowTitle(AppTitle());
    box.setText(text);
    switch (type & MB_ICONMASK) {
    case MB_ICONSTOP:
        box.setIcon(QMessageBox::Critical);
        break;
    case MB_ICONQUESTION:
        box.setIcon(QMessageBox::Question);
        break;
    case MB_ICONEXCLAMATION:
        box.setIcon(QMessageBox::Warning);
        break;
    case MB_ICONINFORMATION:
        box.setIcon(QMessageBox::Information);
        break;
    default:
        break;
    }
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton((type & MB_DEFBUTTON2) ? QMessageBox::No : QMessageBox::Yes);
        return Run(box) == QMessageBox::Yes ? IDYES : IDNO;
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton((type & MB_DEFBUTTON2) ? QMessageBox::Cancel : QMessageBox::Ok);
        return Run(box) == QMessageBox::Ok ? IDOK : IDCANCEL;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        Run(box);
        return IDOK;
    }
}
} // namespace

void InstallGuiMessageBox() {
    if (!IsHeadless())
        SetMessageBoxHandler(ShowMessageBox);
}
