#include "support/memo_user.h"

#include "framework/gui/Memo.h"

void AddNumberedLines(TMemo* memo, int n, int first) {
  for (int i = first; i < first + n; ++i) memo->AddLine("line " + std::to_string(i));
}

std::string NumberedLines(int n, int first) {
  std::string text;
  for (int i = first; i < first + n; ++i) text += "line " + std::to_string(i) + "\r\n";
  return text;
}

#ifdef _WIN32
// The system's MulDiv (C linkage) would clash with the framework's own.
#define MulDiv SystemMulDiv
#include <windows.h>
#undef MulDiv

void UserSelects(TMemo* memo, int start, int end) {
  SendMessageW(memo->Widget(), EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
}

void UserTypes(TMemo* memo, const std::u16string& keys) {
  for (char16_t key : keys) SendMessageW(memo->Widget(), WM_CHAR, key, 0);
}

#else
#include <QAccessible>
#include <QTest>
#include <QWidget>

#include "framework/gui/HistoryView.h"

void UserSelects(TMemo* memo, int start, int end) {
  // As a screen reader selects, through the accessible text, whose offsets
  // count a line break as one character.
  const THistoryText& text = memo->View()->Text();
  auto accessible = [&text](int offset) {
    return static_cast<int>(text.Offset(text.PosAt(static_cast<std::size_t>(offset)), 1));
  };
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(memo->Widget());
  face->textInterface()->setSelection(0, accessible(start), accessible(end));
}

void UserTypes(TMemo* memo, const std::u16string& keys) {
  for (char16_t key : keys) {
    if (key == u'\r') {
      QTest::keyClick(memo->Widget(), Qt::Key_Return);
    } else if (key == u'\b') {
      QTest::keyClick(memo->Widget(), Qt::Key_Backspace);
    } else {
      // A key code of the character's own (Qt's are Unicode's upper case), so
      // that letters beyond Latin-1 are typed too.
      const QChar typed(key);
      QTest::sendKeyEvent(QTest::Click, memo->Widget(),
                          static_cast<Qt::Key>(typed.toUpper().unicode()), QString(typed),
                          Qt::NoModifier);
    }
  }
}
#endif
