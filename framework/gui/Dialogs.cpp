#include "framework/gui/Dialogs.h"

#include "framework/gui/GuiPort.h"

TFontDialog::TFontDialog(TComponent* owner) : TComponent(owner) {}

bool TFontDialog::Execute() {
  port::FontChoice choice;
  bool confirmed;
  {
    port::SavedFocus saved;
    confirmed = port::RunFontDialog(font_, choice);
    saved.Restore();
  }
  if (!confirmed) return false;
  TFont chosen;
  chosen.Assign(&font_);
  chosen.SetName(choice.name);
  if (choice.points > 0) chosen.SetSize(choice.points);
  chosen.SetStyle(choice.style);
  // The character set and the colour change only when the user changed them.
  if (choice.face_changed || choice.script_changed) chosen.SetCharset(choice.charset);
  if (choice.color_changed) chosen.SetColor(choice.color);
  font_.Assign(&chosen);
  return true;
}
