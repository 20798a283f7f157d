// The font dialog component.
//
// Execute shows a modal font chooser that offers face, size, style, underline,
// strike-out, colour and script, and starts from the component's own Font
// ("Tahoma", 11 pixels, when nothing has been chosen yet). On confirmation the
// component's Font takes the chosen face, height and style; it takes the
// chosen character set only when the user changed the face or the script, and
// the chosen colour only when the user changed the colour. The dialog's font is
// never read from any control. While the dialog runs, the program's other
// windows take no input and calls handed to the main thread still run.
//
// The dialog's parts carry object names for tests: "fontFace" (editable combo
// box), "fontStyle" (combo box: regular, italic, bold, bold italic),
// "fontSize" (editable combo box, points), "fontUnderline" and "fontStrikeOut"
// (check boxes), "fontColor" (combo box of the sixteen basic colours),
// "fontScript" (combo box), "fontSample" (label) and "fontButtons" (OK and
// Cancel). The dialog itself is named "fontDialog".
//
// Main thread only.
#pragma once

#include "framework/core/Classes.h"
#include "framework/gui/Graphics.h"

class TFontDialog : public TComponent {
 public:
  explicit TFontDialog(TComponent* owner);

  TFont* Font() { return &font_; }
  // Runs the dialog; true when the user confirmed.
  bool Execute();

 private:
  TFont font_;
};
