#pragma once

#include <QString>
#include <functional>

// Message box styles and answers, with their classic values.
constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_OKCANCEL = 0x1;
constexpr unsigned MB_YESNO = 0x4;
constexpr unsigned MB_ICONSTOP = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr unsigned MB_DEFBUTTON2 = 0x100;
constexpr unsigned MB_TYPEMASK = 0xF;
constexpr unsigned MB_ICONMASK = 0xF0;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Every message box goes through one replaceable handler: the programs
// install one that shows a window, tests install one that records the text
// and answers from a script. Without a handler, or with no screen to show it
// on, the text goes to standard error and the default button is the answer
// (but a Yes/No question is answered No), so nothing ever waits for a click
// that cannot come. Every box counts as a modal window (Modal.h) while open.
using MessageBoxHandler = std::function<int(const QString& text, unsigned type)>;

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler); // returns the previous one
int AfxMessageBox(const QString& text, unsigned type = MB_OK);
int DefaultButton(unsigned type);

// The program runs with nobody to answer windows (the offscreen platform):
// message boxes answer at once and modal dialogs count as closed without OK.
void SetHeadless(bool bHeadless);
bool IsHeadless();

// The title that message boxes carry.
void SetAppTitle(const QString& title);
QString AppTitle();
