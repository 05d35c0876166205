#pragma once

// Routes AfxMessageBox to a real message box window, unless the program runs
// without a screen (then the default answer is given at once).
void InstallGuiMessageBox();
