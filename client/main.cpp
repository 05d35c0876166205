#include "Signals.h"
#include "SkifferApp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    qapp.setApplicationName("Skiffer Client");
    int nResult = 1;
    {
        CSkifferApp app;
        if (app.InitInstance()) {
            QuitOnTerminationSignals();
            nResult = qapp.exec();
        }
    }
    return nResult;
}
