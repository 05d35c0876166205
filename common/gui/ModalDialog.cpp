#include "ModalDialog.h"

#include "MessageBox.h"
#include "Modal.h"

namespace {
ModalRunner g_runner;
}

ModalRunner SetModalRunner(ModalRunner runner) {
    ModalRunner previous = std::move(g_runner);
    g_runner = std::move(runner);
    return previous;
}

int DoModal(QDialog& dialog) {
    // Nothing times out while the user is held in a dialog.
    CModalScope scope;
    if (g_runner)
        return g_runner(dialog);
    if (IsHeadless())
        return QDialog::Rejected;
    return dialog.exec();
}
