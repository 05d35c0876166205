#include "Signals.h"
#include "SkifferApp.h"

int main(int argc, char** argv) {
    CSkifferApp app(argc, argv);
    if (!app.InitInstance())
        return 1;
    QuitOnTerminationSignals();
    return app.exec();
}
