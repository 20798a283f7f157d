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
#include <QPlainTextEdit>
#include <QTest>

namespace {

QPlainTextEdit* Edit(TMemo* memo) {
  return static_cast<QPlainTextEdit*>(memo->Widget());
}

// The document counts a line break as one position, the text read back as two.
int DocumentPosition(TMemo* memo, int offset) {
  const std::string text = memo->Text();
  int breaks = 0;
  for (int i = 0; i + 1 < offset; ++i) {
    if (text[i] == '\r' && text[i + 1] == '\n') ++breaks;
  }
  return offset - breaks;
}

}  // namespace

void UserSelects(TMemo* memo, int start, int end) {
  memo->Flush();
  QTextCursor cursor = Edit(memo)->textCursor();
  cursor.setPosition(DocumentPosition(memo, start));
  cursor.setPosition(DocumentPosition(memo, end), QTextCursor::KeepAnchor);
  Edit(memo)->setTextCursor(cursor);
}

void UserTypes(TMemo* memo, const std::u16string& keys) {
  for (char16_t key : keys) {
    if (key == u'\r') {
      QTest::keyClick(Edit(memo), Qt::Key_Return);
    } else if (key == u'\b') {
      QTest::keyClick(Edit(memo), Qt::Key_Backspace);
    } else {
      // A key code of the character's own (Qt's are Unicode's upper case), so
      // that letters beyond Latin-1 are typed too.
      const QChar typed(key);
      QTest::sendKeyEvent(QTest::Click, Edit(memo), static_cast<Qt::Key>(typed.toUpper().unicode()),
                          QString(typed), Qt::NoModifier);
    }
  }
}
#endif
