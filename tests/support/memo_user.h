// The user at a memo, the same for every port's tests: selecting with the
// mouse and typing at the keyboard, through the events the port's widget
// receives from the window system.
#pragma once

#include <string>

class TMemo;

// Selects from start to end, offsets in the text as read back (CR LF between
// lines); the caret ends at end.
void UserSelects(TMemo* memo, int start, int end);
// Keys typed at the caret: '\r' is Enter, '\b' Backspace, any other character
// is typed as it stands.
void UserTypes(TMemo* memo, const std::u16string& keys);
