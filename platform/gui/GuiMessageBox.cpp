#include "GuiMessageBox.h"

#include "MessageBox.h"

#include <QMessageBox>

namespace {
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
        return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton((type & MB_DEFBUTTON2) ? QMessageBox::Cancel : QMessageBox::Ok);
        return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
    default:
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return IDOK;
    }
}
} // namespace

void InstallGuiMessageBox() {
    if (!IsHeadless())
        SetMessageBoxHandler(ShowMessageBox);
}
