// What the Qt port's files share: text, colour and font conversion, the link
// from a widget to its client, and the catch-all around every entry from Qt
// into framework code. Included only by framework/gui/qt/*.cpp.
//
// Main thread only.
#pragma once

#include <QColor>
#include <QDialog>
#include <QEvent>
#include <QFont>
#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <string_view>

#include "framework/core/Ansi.h"
#include "framework/gui/GuiPort.h"

namespace qtport {

// Windows-1251 bytes to a QString and back; every byte survives the trip.
inline QString ToQString(std::string_view ansi) {
  std::u16string utf16 = AnsiToUtf16(ansi);
  return QString(reinterpret_cast<const QChar*>(utf16.data()),
                 static_cast<qsizetype>(utf16.size()));
}

inline std::string FromQString(const QString& text) {
  return Utf16ToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                         static_cast<std::size_t>(text.size())));
}

// A colour as the platform shows it; system colours follow the palette.
QColor ToQColor(TColor color);
QFont ToQFont(const TFont& font);

// The client of the widget that object is or belongs to (its nearest linked
// ancestor within its window), or none.
TWidgetClient* ClientOf(const QObject* object);
void Link(QWidget* widget, TWidgetClient* client);

// Runs an entry from Qt into framework code; an exception that escapes it goes
// to the entry error hook with client's object as sender (none: the
// application). Returns false when one escaped.
bool RunGuarded(TWidgetClient* client, const std::function<void()>& entry);
// The entry error hook itself, for an escape caught elsewhere.
void ReportEntryError(TWidgetClient* client, std::exception_ptr error);

// Runs a standard dialog's own loop (a message box, the font chooser) and
// returns what exec() returns. The dialog is rejected when the program is told
// to end; once it has been, the dialog is not run and the result is -1.
int ExecStandardDialog(QDialog& dialog);

// The caret of the edits stops blinking after a while without input; an
// input event of type in an edit or the memo lets it blink again.
void NoteInputForCaretBlink(QEvent::Type type);

// The memo's widget (QtMemo.cpp) and a form's window (QtWindows.cpp).
QWidget* CreateMemoWidget(TWidgetClient* client);
QWidget* CreateWindowWidget(TWidgetClient* client);

// Under X11, asks the server for repeated key presses without the release that
// would come before each, so that a key release always means the key was let
// go. Does nothing on other platforms. REQUIRES: the QGuiApplication exists.
void UseDetectableAutoRepeat();

}  // namespace qtport
