#pragma once

// The views' messages, by the numbers they have always had. Each names one
// call of a view interface (the server's CSlotView, the client's
// CTransferView), for whatever records or relays what a view is told.
constexpr int WM_USER = 0x400;

// What the server's progress view is told about one of its slots (1 to 5).
enum SlotMessage : int {
    WM_SLOT_IDLE = WM_USER + 1,     // slot freed
    WM_SLOT_CLIENT = WM_USER + 2,   // new client
    WM_SLOT_DETAILS = WM_USER + 3,  // file, direction, mode
    WM_SLOT_PROGRESS = WM_USER + 4, // progress
    WM_SLOT_RETRANSMIT = WM_USER + 6,
};

// What a client transfer tells its view.
enum ClientMessage : int {
    WM_CLIENT_PROGRESS = WM_USER + 1,  // see ProgressKind
    WM_CLIENT_BLOCKSIZE = WM_USER + 2, // the block size now in force
    WM_CLIENT_ADDRESS = WM_USER + 3,   // the local address has been chosen
};
enum class ProgressKind : long { Starts = 0, Sent = 1, Received = 2 };
