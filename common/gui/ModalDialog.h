#pragma once

#include <QDialog>
#include <functional>

// Every modal dialog of both programs runs through here: the programs show
// it and wait, tests install a runner that fills it in and closes it. With
// no screen and no runner a dialog counts as closed without OK, so nothing
// ever waits for a click that cannot come.
using ModalRunner = std::function<int(QDialog& dialog)>;

ModalRunner SetModalRunner(ModalRunner runner); // returns the previous one
int DoModal(QDialog& dialog);                   // QDialog::Accepted or Rejected
