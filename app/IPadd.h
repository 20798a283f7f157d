// The new-address dialog: four small edits, one per octet of an IPv4 address,
// and the OK and cancel buttons. The chat window's add button shows it modally
// and, on OK, adds the four texts joined with dots to its address list.
//
// The dialog is created hidden at start-up, right after the chat window, and
// the same instance serves every use: each showing clears the fields and puts
// the focus in the first one. Releasing any key in a field that holds three or
// more characters moves the focus on to the next field (from the last one to
// OK); Enter in the last field presses OK. Nothing checks what the fields hold.
//
// The window is built by its constructor from the layout below (its resource)
// and owns every control. Handlers run on the main thread only.
#pragma once

#include <cstdint>

#include "framework/gui/Forms.h"

class TForm2 : public TForm {
 public:
  explicit TForm2(TComponent* owner);

  TEdit* Edit1 = nullptr;
  TEdit* Edit2 = nullptr;
  TEdit* Edit3 = nullptr;
  TEdit* Edit4 = nullptr;
  TBitBtn* BitBtn1 = nullptr;
  TBitBtn* BitBtn2 = nullptr;
  TLabel* Label1 = nullptr;

  // Move the focus on once the field holds three or more characters, on every
  // key release in it, whatever the key.
  void Edit1KeyUp(TObject* sender, std::uint16_t& key, TShiftState shift);
  void Edit2KeyUp(TObject* sender, std::uint16_t& key, TShiftState shift);
  void Edit3KeyUp(TObject* sender, std::uint16_t& key, TShiftState shift);
  void Edit4KeyUp(TObject* sender, std::uint16_t& key, TShiftState shift);
  // Empty fields and the focus in the first one, each time the dialog appears.
  void FormShow(TObject* sender);
  // Enter in the last field presses OK; the character is not swallowed.
  void Edit4KeyPress(TObject* sender, char& key);

 private:
  // Names that let a screen reader tell the four fields apart.
  void NameForScreenReaders();
  // Gives next the focus when field holds more than two characters.
  static void AdvanceWhenFull(TEdit* field, TWinControl* next);
};

// The new-address dialog, set while it is created.
extern TForm2* Form2;
