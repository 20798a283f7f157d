// The framework's boundary to Qt: text, colour and font conversion, the link
// from a widget back to its control, and the catch-all around every entry from
// Qt into framework code. Included only by framework/gui/*.cpp.
//
// Main thread only.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>
#include <string>
#include <utility>

#include "framework/core/Ansi.h"
#include "framework/gui/Controls.h"
#include "framework/gui/Graphics.h"

// Windows-1251 bytes to a QString and back; every byte survives the trip.
inline QString ToQString(const std::string& ansi) {
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
TColor FromQColor(const QColor& color);
QFont ToQFont(const TFont& font);

// The control that a widget (or one of its inner parts) shows, or none.
TControl* ControlOf(const QObject* object);
void LinkWidget(QWidget* widget, TControl* control);
void UnlinkWidget(QWidget* widget);

// Under X11, asks the server for repeated key presses without the release that
// would come before each, so that a key release always means the key was let
// go. Does nothing on other platforms. REQUIRES: the QGuiApplication exists.
void UseDetectableAutoRepeat();

// Runs an entry from Qt into framework code; an exception that escapes it goes
// to Application->ReportError with sender. Returns false when one escaped.
bool RunGuarded(TObject* sender, const std::function<void()>& entry);
