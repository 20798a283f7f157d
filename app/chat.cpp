#include "app/chat.h"

#include "app/IPadd.h"
#include "framework/core/Ansi.h"

TForm1* Form1 = nullptr;

TForm1::TForm1(TComponent* owner) : TForm(owner) {
  BeginLoading();
  SetName("Form1");
  SetCaption("Kvelmar");
  SetClientSize(595, 486);
  SetBorderStyle(bsSingle);
  SetBorderIcons(biSystemMenu | biMinimize);
  SetPosition(poScreenCenter);
  SetColor(clBtnFace);
  Font()->SetName("Tahoma");
  Font()->SetHeight(11);
  Font()->SetCharset(DEFAULT_CHARSET);
  Font()->SetColor(clWindowText);
  Font()->SetStyle(0);

  MakeField(panel, "panel", this);
  panel->SetBounds(0, 448, 595, 38);
  panel->SetAlign(alBottom);
  panel->SetTabOrder(0);
  panel->SetBevelOuter(bvNone);

  MakeField(mesag, "mesag", panel);
  mesag->SetBounds(8, 8, 409, 23);
  mesag->Font()->SetName("Times New Roman");
  mesag->Font()->SetHeight(13);
  mesag->Font()->SetCharset(ANSI_CHARSET);
  mesag->Font()->SetColor(clWindowText);
  mesag->Font()->SetStyle(0);
  mesag->SetTabOrder(0);

  MakeField(BitBtn3, "BitBtn3", panel);
  BitBtn3->SetBounds(424, 8, 169, 22);
  BitBtn3->SetCaption(Ansi("Отправить"));
  BitBtn3->SetTabOrder(1);
  BitBtn3->SetOnClick([this](TObject* sender) { BitBtn3Click(sender); });

  MakeField(Panel2, "Panel2", this);
  Panel2->SetBounds(416, 0, 179, 448);
  Panel2->SetAlign(alRight);
  Panel2->SetTabOrder(1);
  Panel2->SetBevelOuter(bvNone);

  MakeField(Label1, "Label1", Panel2);
  Label1->SetBounds(8, 24, 127, 13);
  Label1->SetCaption(Ansi("Список IP собеседников:"));

  MakeField(Label2, "Label2", Panel2);
  Label2->SetBounds(8, 408, 45, 13);
  Label2->SetCaption(Ansi("ваш ник:"));

  MakeField(ListBox1, "ListBox1", Panel2);
  ListBox1->SetBounds(8, 40, 161, 185);
  ListBox1->SetItemHeight(13);
  ListBox1->SetTabOrder(0);

  MakeField(BitBtn1, "BitBtn1", Panel2);
  BitBtn1->SetBounds(8, 232, 75, 25);
  BitBtn1->SetCaption(Ansi("Добавить"));
  BitBtn1->SetTabOrder(1);
  BitBtn1->SetOnClick([this](TObject* sender) { BitBtn1Click(sender); });

  MakeField(BitBtn2, "BitBtn2", Panel2);
  BitBtn2->SetBounds(96, 232, 75, 25);
  BitBtn2->SetCaption(Ansi("Удалить"));
  BitBtn2->SetTabOrder(2);
  BitBtn2->SetOnClick([this](TObject* sender) { BitBtn2Click(sender); });

  MakeField(nik, "nik", Panel2);
  nik->SetBounds(8, 424, 169, 21);
  nik->SetTabOrder(3);

  MakeField(BitBtn4, "BitBtn4", Panel2);
  BitBtn4->SetBounds(8, 264, 161, 25);
  BitBtn4->SetCaption(Ansi("Шрифт"));
  BitBtn4->SetTabOrder(4);
  BitBtn4->SetOnClick([this](TObject* sender) { BitBtn4Click(sender); });

  MakeField(Memo1, "Memo1", this);
  Memo1->SetBounds(0, 0, 416, 448);
  Memo1->SetAlign(alClient);
  Memo1->Font()->SetName("Times New Roman");
  Memo1->Font()->SetHeight(13);
  Memo1->Font()->SetCharset(ANSI_CHARSET);
  Memo1->Font()->SetColor(clWindowText);
  Memo1->Font()->SetStyle(0);
  Memo1->SetScrollBars(ssVertical);
  Memo1->SetTabOrder(2);

  // The endpoints, in the order of the resource: the client opens its socket
  // and the server binds the chat port on all addresses when loading ends.
  MakeField(IdUDPClient1, "IdUDPClient1");
  IdUDPClient1->SetActive(true);
  IdUDPClient1->SetPort(kChatPort);

  MakeField(IdUDPServer1, "IdUDPServer1");
  IdUDPServer1->SetActive(true);
  IdUDPServer1->SetDefaultPort(kChatPort);
  IdUDPServer1->SetOnUDPRead([this](TObject* sender, TStream& data, TIdSocketHandle* binding) {
    IdUDPServer1UDPRead(sender, data, binding);
  });

  MakeField(FontDialog1, "FontDialog1");
  FontDialog1->Font()->SetName("Tahoma");
  FontDialog1->Font()->SetHeight(11);
  FontDialog1->Font()->SetCharset(DEFAULT_CHARSET);
  FontDialog1->Font()->SetColor(clWindowText);
  FontDialog1->Font()->SetStyle(0);

  NameForScreenReaders();
  EndLoading();
}

void TForm1::NameForScreenReaders() {
  panel->SetAccessibleName(Ansi("Новое сообщение"));
  mesag->SetAccessibleName(Ansi("Сообщение"));
  BitBtn3->SetAccessibleDescription(Ansi("Отправить сообщение всем адресам списка"));
  Panel2->SetAccessibleName(Ansi("Собеседники"));
  ListBox1->SetAccessibleName(Ansi("Список IP собеседников"));
  BitBtn1->SetAccessibleDescription(Ansi("Добавить IP-адрес собеседника"));
  BitBtn2->SetAccessibleDescription(Ansi("Удалить выбранный адрес"));
  BitBtn4->SetAccessibleDescription(Ansi("Выбрать шрифт истории и полей ввода"));
  nik->SetAccessibleName(Ansi("Ваш ник"));
  Memo1->SetAccessibleName(Ansi("История сообщений"));
}

void TForm1::BitBtn1Click(TObject* /*sender*/) {
  if (Form2->RunModal() != mrOk) return;
  // Whatever the fields hold; duplicates are kept and the selection stays.
  ListBox1->Items()->Add(Form2->Edit1->Text() + "." + Form2->Edit2->Text() + "." +
                         Form2->Edit3->Text() + "." + Form2->Edit4->Text());
}

void TForm1::BitBtn2Click(TObject* /*sender*/) {
  ListBox1->Items()->Delete(ListBox1->ItemIndex());
}

void TForm1::BitBtn3Click(TObject* /*sender*/) {
  const int count = ListBox1->Items()->Count();
  if (count == 0) return;
  // One datagram per entry, in list order; the first failure ends the handler
  // and reaches the error display, with no echo and the message kept.
  for (int i = 0; i < count; ++i) {
    IdUDPClient1->SetHost(ListBox1->Items()->Strings(i));
    IdUDPClient1->SendText(nik->Text() + "> " + mesag->Text());
  }
  Memo1->Lines()->Add(nik->Text() + "> " + mesag->Text());
  mesag->SetText("");
  mesag->SetFocus();
}

void TForm1::IdUDPServer1UDPRead(TObject* /*sender*/, TStream& AData,
                                 TIdSocketHandle* /*ABinding*/) {
  // A delivery that the listener handed over while the window was being
  // destroyed finds the history gone: the datagram is dropped without a word.
  if (Memo1 == nullptr) return;
  TStringStream line("");
  line.CopyFrom(AData, AData.Size());
  Memo1->Lines()->Add(line.DataString());
  // Only here does the window know that a line came from a peer, not from the
  // user (the echo): the memo cannot tell the two apart, so the handler asks.
  // The form asks the platform once until the user activates the window.
  RequestAttention();
}

void TForm1::BitBtn4Click(TObject* /*sender*/) {
  if (!FontDialog1->Execute()) return;
  Memo1->Font()->Assign(FontDialog1->Font());
  mesag->Font()->Assign(FontDialog1->Font());
  nik->Font()->Assign(FontDialog1->Font());
}
