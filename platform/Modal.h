#pragma once

#include "Clock.h"

// The program's modal windows (message boxes, dialogs run with exec). While one is open the
// user cannot act, so nothing may time out under them. Scopes nest, and some window counts as
// open until the outermost scope ends.
class CModalScope {
public:
    CModalScope();
    ~CModalScope();
    CModalScope(const CModalScope&) = delete;
    CModalScope& operator=(const CModalScope&) = delete;

    // Some modal window is open now.
    static bool IsOpen();
    // When the last one closed (CTime 0 if never).
    static CTime LastClosed();
};
