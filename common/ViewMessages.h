#pragma once

// The messages the programs' views have always been sent, by their numbers.
constexpr int WM_USER = 0x400;

// What the server's progress view is told about one of its slots (first
// parameter: slot 1 to 5), and the shell's change of how it shows them.
enum SlotMessage : int {
    WM_SLOT_IDLE = WM_USER + 1,     // slot freed
    WM_SLOT_CLIENT = WM_USER + 2,   // new client
    WM_SLOT_DETAILS = WM_USER + 3,  // file, direction, mode
    WM_SLOT_PROGRESS = WM_USER + 4, // progress
    WM_VIEW_TYPE = WM_USER + 5,     // sent by the shell, not the engine
    WM_SLOT_RETRANSMIT = WM_USER + 6,
};

// What a client transfer tells its view.
enum ClientMessage : int {
    WM_CLIENT_PROGRESS = WM_USER + 1,  // see ProgressKind
    WM_CLIENT_BLOCKSIZE = WM_USER + 2, // the block size now in force
    WM_CLIENT_ADDRESS = WM_USER + 3,   // the local address has been chosen
};
enum class ProgressKind : long { Starts = 0, Sent = 1, Received = 2 };
