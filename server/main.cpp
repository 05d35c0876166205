#include "Signals.h"
#include "WharfApp.h"

int main(int argc, char** argv) {
    CWharfApp app(argc, argv);
    if (!app.InitInstance())
        return 1;
    QuitOnTerminationSignals();
    return app.exec();
}
