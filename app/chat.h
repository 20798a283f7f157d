// The chat window: the history, the address list, the nickname and message
// edits and the buttons that work on them.
//
// The window is built by its constructor from the layout below (its resource)
// and owns every control. Handlers run on the main thread only.
#pragma once

#include "framework/gui/Dialogs.h"
#include "framework/gui/Forms.h"

class TForm1 : public TForm {
 public:
  explicit TForm1(TComponent* owner);

  TPanel* Panel2 = nullptr;
  TListBox* ListBox1 = nullptr;
  TMemo* Memo1 = nullptr;
  TBitBtn* BitBtn1 = nullptr;
  TBitBtn* BitBtn2 = nullptr;
  TEdit* mesag = nullptr;
  TPanel* panel = nullptr;
  TBitBtn* BitBtn3 = nullptr;
  TLabel* Label1 = nullptr;
  TEdit* nik = nullptr;
  TLabel* Label2 = nullptr;
  TFontDialog* FontDialog1 = nullptr;
  TBitBtn* BitBtn4 = nullptr;

  // Add an address (through the new-address dialog).
  void BitBtn1Click(TObject* sender);
  // Remove the selected address; nothing happens without a selection.
  void BitBtn2Click(TObject* sender);
  // Send the line to every listed address.
  void BitBtn3Click(TObject* sender);
  // Choose the font of the history and both edits.
  void BitBtn4Click(TObject* sender);
};

// The chat window, set while it is created.
extern TForm1* Form1;
