// Every control a person works with has a name a screen reader can say, and
// no two controls of a window share one.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QWidget>
#include <set>
#include <string>
#include <vector>

#include "app/IPadd.h"
#include "app/chat.h"
#include "framework/core/Ansi.h"

namespace {

std::string SpokenName(TControl* control) {
  QAccessibleInterface* face = QAccessible::queryAccessibleInterface(control->Widget());
  return face != nullptr ? face->text(QAccessible::Name).toStdString() : std::string();
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
    Application->ResetForTesting();
    Application->MakeForm(Form1);
    Application->MakeForm(Form2);
  }
  void TearDown() override {
    Application->ResetForTesting();
    Form1 = nullptr;
    Form2 = nullptr;
  }
};

TEST_F(AccessibilityTest, ChatWindowControlsHaveDistinctNames) {
  TForm1* f = Form1;
  ExpectDistinctNames({f->mesag, f->BitBtn3, f->ListBox1, f->BitBtn1, f->BitBtn2, f->nik,
                       f->BitBtn4, f->Memo1, f->Label1, f->Label2});
  EXPECT_EQ(SpokenName(f->Memo1), "История сообщений");
  EXPECT_EQ(SpokenName(f->BitBtn3), "Отправить");  // a button is named by its caption
}

TEST_F(AccessibilityTest, DialogFieldsHaveDistinctNames) {
  TForm2* d = Form2;
  ExpectDistinctNames({d->Edit1, d->Edit2, d->Edit3, d->Edit4, d->BitBtn1, d->BitBtn2, d->Label1});
  EXPECT_EQ(SpokenName(d->Edit4), "Четвёртое число IP-адреса");
}

}  // namespace
