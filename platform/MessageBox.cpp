#include "MessageBox.h"

#include "Modal.h"

#include <cstdio>

namespace {
MessageBoxHandler g_handler;
bool g_bHeadless = false;
QString g_title;
} // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = std::move(g_handler);
    g_handler = std::move(handler);
    return previous;
}

int DefaultButton(unsigned type) {
    bool bSecond = (type & MB_DEFBUTTON2) != 0;
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
        return bSecond ? IDNO : IDYES;
    case MB_OKCANCEL:
        return bSecond ? IDCANCEL : IDOK;
    default:
        return IDOK;
    }
}

int AfxMessageBox(const QString& text, unsigned type) {
    CModalScope modal;
    if (g_handler)
        return g_handler(text, type);
    QString line = g_title.isEmpty() ? text : g_title + ": " + text;
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
    // Nobody can have said yes: a question answers No, so that nothing is
    // overwritten or deleted without a person agreeing.
    if ((type & MB_TYPEMASK) == MB_YESNO)
        return IDNO;
    return DefaultButton(type);
}

void SetHeadless(bool bHeadless) {
    g_bHeadless = bHeadless;
}

bool IsHeadless() {
    return g_bHeadless;
}

void SetAppTitle(const QString& title) {
    g_title = title;
}

QString AppTitle() {
    return g_title;
}
