#include "Signals.h"
#include "WharfApp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    qapp.setApplicationName("Wharfkeep");
    int nResult = 1;
    {
        CWharfApp app;
        if (app.InitInstance()) {
            QuitOnTerminationSignals();
            nResult = qapp.exec();
        }
    } // shutdown: the settings are saved here, also after a failed start
    return nResult;
}
