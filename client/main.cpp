#include "SkifferApp.h"

int main(int argc, char** argv) {
    CSkifferApp app(argc, argv);
    if (!app.InitInstance())
        return 1;
    return app.exec();
}
