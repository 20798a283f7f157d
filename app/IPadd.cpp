#include "app/IPadd.h"

#include "framework/core/Ansi.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(TComponent* owner) : TForm(owner) {
  BeginLoading();
  SetName("Form2");
  SetCaption(Ansi("Новый IP"));
  SetClientSize(202, 111);
  SetBorderStyle(bsDialog);
  SetPosition(poScreenCenter);
  SetColor(clBtnFace);
  Font()->SetName("Tahoma");
  Font()->SetHeight(11);
  Font()->SetCharset(DEFAULT_CHARSET);
  Font()->SetColor(clWindowText);
  Font()->SetStyle(0);
  SetOnShow([this](TObject* sender) { FormShow(sender); });

  MakeField(Label1, "Label1", this);
  Label1->SetBounds(24, 16, 50, 13);
  Label1->SetCaption(Ansi("Новый IP:"));

  MakeField(Edit1, "Edit1", this);
  Edit1->SetBounds(24, 32, 33, 21);
  Edit1->SetTabOrder(0);
  Edit1->SetOnKeyUp([this](TObject* sender, std::uint16_t& key, TShiftState shift) {
    Edit1KeyUp(sender, key, shift);
  });

  MakeField(Edit2, "Edit2", this);
  Edit2->SetBounds(64, 32, 33, 21);
  Edit2->SetTabOrder(1);
  Edit2->SetOnKeyUp([this](TObject* sender, std::uint16_t& key, TShiftState shift) {
    Edit2KeyUp(sender, key, shift);
  });

  MakeField(Edit3, "Edit3", this);
  Edit3->SetBounds(104, 32, 33, 21);
  Edit3->SetTabOrder(2);
  Edit3->SetOnKeyUp([this](TObject* sender, std::uint16_t& key, TShiftState shift) {
    Edit3KeyUp(sender, key, shift);
  });

  MakeField(Edit4, "Edit4", this);
  Edit4->SetBounds(144, 32, 33, 21);
  Edit4->SetTabOrder(3);
  Edit4->SetOnKeyPress([this](TObject* sender, char& key) { Edit4KeyPress(sender, key); });
  Edit4->SetOnKeyUp([this](TObject* sender, std::uint16_t& key, TShiftState shift) {
    Edit4KeyUp(sender, key, shift);
  });

  MakeField(BitBtn1, "BitBtn1", this);
  BitBtn1->SetBounds(24, 72, 75, 25);
  BitBtn1->SetTabOrder(4);
  BitBtn1->SetCaption("OK");
  BitBtn1->SetModalResult(mrOk);

  MakeField(BitBtn2, "BitBtn2", this);
  BitBtn2->SetBounds(104, 72, 75, 25);
  BitBtn2->SetTabOrder(5);
  BitBtn2->SetCaption(Ansi("Отмена"));
  BitBtn2->SetModalResult(mrCancel);

  NameForScreenReaders();
  EndLoading();
}

void TForm2::AdvanceWhenFull(TEdit* field, TWinControl* next) {
  if (field->Text().size() > 2) next->SetFocus();
}

void TForm2::Edit1KeyUp(TObject* /*sender*/, std::uint16_t& /*key*/, TShiftState /*shift*/) {
  AdvanceWhenFull(Edit1, Edit2);
}

void TForm2::Edit2KeyUp(TObject* /*sender*/, std::uint16_t& /*key*/, TShiftState /*shift*/) {
  AdvanceWhenFull(Edit2, Edit3);
}

void TForm2::Edit3KeyUp(TObject* /*sender*/, std::uint16_t& /*key*/, TShiftState /*shift*/) {
  AdvanceWhenFull(Edit3, Edit4);
}

void TForm2::Edit4KeyUp(TObject* /*sender*/, std::uint16_t& /*key*/, TShiftState /*shift*/) {
  AdvanceWhenFull(Edit4, BitBtn1);
}

void TForm2::NameForScreenReaders() {
  Edit1->SetAccessibleName(Ansi("Первое число IP-адреса"));
  Edit2->SetAccessibleName(Ansi("Второе число IP-адреса"));
  Edit3->SetAccessibleName(Ansi("Третье число IP-адреса"));
  Edit4->SetAccessibleName(Ansi("Четвёртое число IP-адреса"));
  BitBtn1->SetAccessibleDescription(Ansi("Добавить адрес"));
}

void TForm2::FormShow(TObject* /*sender*/) {
  Edit1->SetText("");
  Edit2->SetText("");
  Edit3->SetText("");
  Edit4->SetText("");
  Edit1->SetFocus();
}

void TForm2::Edit4KeyPress(TObject* /*sender*/, char& key) {
  if (key == '\r') BitBtn1->Click();
}
