#include "SkifferIcon.h"

#include <QPixmap>

// Outside any namespace: the registration names a function at file scope.
static void InitSkifferResources() {
    // Resources of a static library are registered by hand.
    static const bool bRegistered = [] {
        Q_INIT_RESOURCE(skiffer);
        return true;
    }();
    (void)bRegistered;
}

QIcon SkifferIcon() {
    InitSkifferResources();
    QIcon icon;
    for (int nSize : {16, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/skiffer/skiffer-%1.png").arg(nSize), QSize(nSize, nSize));
    return icon;
}

QPixmap SkifferPicture() {
    InitSkifferResources();
    return QPixmap(":/skiffer/form-picture.png");
}
