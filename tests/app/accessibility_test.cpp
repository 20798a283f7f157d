// Every control a person works with has a name a screen reader can say, and
// no two controls of a window share one. The names are read as a screen reader
// reads them, through the platform's accessibility interface: Qt's on Linux,
// Microsoft Active Accessibility on Windows.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/IPadd.h"
#include "app/chat.h"
#include "framework/core/Ansi.h"

#ifdef _WIN32
#include "support/windows_api.h"
#include <oleacc.h>
#else
#include <QAccessible>
#include <QWidget>
#endif

namespace {

enum class Spoken { kName, kDescription };

#ifdef _WIN32
// In UTF-8, as the literals below.
std::string SpokenText(TControl* control, Spoken what) {
  IAccessible* object = nullptr;
  if (FAILED(AccessibleObjectFromWindow(control->Widget(), OBJID_CLIENT, __uuidof(IAccessible),
                                        reinterpret_cast<void**>(&object)))) {
    return std::string();
  }
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR text = nullptr;
  HRESULT read = what == Spoken::kName ? object->get_accName(self, &text)
                                       : object->get_accDescription(self, &text);
  object->Release();
  std::string utf8;
  if (read == S_OK && text != nullptr) {
    const int length = static_cast<int>(SysStringLen(text));
    utf8.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr)));
    WideCharToMultiByte(CP_UTF8, 0, text, length, utf8.data(), static_cast<int>(utf8.size()),
                        nullptr, nullptr);
  }
  SysFreeString(text);
  return utf8;
}
#else
std::string SpokenText(TControl* control, Spoken what) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(control->Widget());
  if (face == nullptr) return std::string();
  return face->text(what == Spoken::kName ? QAccessible::Name : QAccessible::Description)
      .toStdString();
}
#endif

std::string SpokenName(TControl* control) {
  return SpokenText(control, Spoken::kName);
}

void ExpectDistinctNames(const std::vector<TControl*>& controls) {
  std::set<std::string> names;
  for (TControl* control : controls) {
    std::string name = SpokenName(control);
    EXPECT_FALSE(name.empty()) << control->Name();
    EXPECT_TRUE(names.insert(name).second) << control->Name() << " repeats " << name;
  }
}

class AccessibilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    // The test reads the objects through COM, as a screen reader does.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
#endif
    Application->ResetForTesting();
    Application->MakeForm(Form1);
    Application->MakeForm(Form2);
  }
  void TearDown() override {
    Application->ResetForTesting();
    Form1 = nullptr;
    Form2 = nullptr;
#ifdef _WIN32
    CoUninitialize();
#endif
  }
};

TEST_F(AccessibilityTest, ChatWindowControlsHaveDistinctNames) {
  TForm1* f = Form1;
  ExpectDistinctNames({f->mesag, f->BitBtn3, f->ListBox1, f->BitBtn1, f->BitBtn2, f->nik,
                       f->BitBtn4, f->Memo1, f->Label1, f->Label2});
  EXPECT_EQ(SpokenName(f->Memo1), "История сообщений");
  EXPECT_EQ(SpokenName(f->BitBtn3), "Отправить");  // a button is named by its caption
  EXPECT_EQ(SpokenText(f->BitBtn3, Spoken::kDescription),
            "Отправить сообщение всем адресам списка");
}

TEST_F(AccessibilityTest, DialogFieldsHaveDistinctNames) {
  TForm2* d = Form2;
  ExpectDistinctNames({d->Edit1, d->Edit2, d->Edit3, d->Edit4, d->BitBtn1, d->BitBtn2, d->Label1});
  EXPECT_EQ(SpokenName(d->Edit4), "Четвёртое число IP-адреса");
}

}  // namespace
