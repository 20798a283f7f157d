// Message boxes and the texts of the error display.
//
// Every message box of the program goes through RunAppMessageBox: owned by the
// active window, the program's other windows take no input while it is up, and
// afterwards the active window and the focus are what they were. Handed-over
// calls keep running while it is open. The texts follow the rules below,
// which are the program's own on every platform.
//
// Main thread only.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "framework/gui/GuiPort.h"

// Shows a message box owned by the active window and returns the code of the
// button pressed (IDOK...).
int RunAppMessageBox(const std::string& text, const std::string& caption, int flags);

// The runtime's last-resort box: no owner, task-modal, the error icon, titled
// "Application Error".
void ShowApplicationErrorBox(const std::string& text);

// The error box's title for an executable at path: the file name without its
// directory, cut at its first ".", the first character upper case and the
// rest lower case. "TALKER.EXE" gives "Talker", "/usr/bin/kvelmar" "Kvelmar".
std::string TitleFromExePath(std::string_view path);

// A message as the error box shows it: with a full stop appended when the last
// byte is above "." (0x2E); an empty message stays empty.
std::string WithFullStop(std::string message);

// The text of the last-resort "Application Error" box for the error: class
// name, module file name, address relative to the module's base (8 upper-case
// hexadecimal digits) and, for an Exception, its message with the full stop.
std::string ApplicationErrorText(std::exception_ptr error);
