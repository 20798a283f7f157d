// The user at a memo, the same for every port's tests: selecting with the
// mouse and typing at the keyboard, through the events the port's widget
// receives from the window system; and numbered lines coming in.
#pragma once

#include <string>

class TMemo;

// Selects from start to end, offsets in the text as read back (CR LF between
// lines); the caret ends at end.
void UserSelects(TMemo* memo, int start, int end);
// Keys typed at the caret: '\r' is Enter, '\b' Backspace, any other character
// is typed as it stands.
void UserTypes(TMemo* memo, const std::u16string& keys);

// Adds "line <first>" ... "line <first + n - 1>" as fast as it can.
void AddNumberedLines(TMemo* memo, int n, int first = 0);
// Those lines as read back.
std::string NumberedLines(int n, int first = 0);
