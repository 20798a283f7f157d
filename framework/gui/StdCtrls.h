// The standard controls: panel, label, edit, memo, list box and push buttons.
//
// Every text property is 8-bit Windows-1251 text (std::string); the controls
// convert at their boundary to the toolkit's Unicode and back, so any byte
// survives a round trip through a list box or the memo, and a character typed
// by the user that has no Windows-1251 code reads back as "?".
//
// Main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "framework/gui/Controls.h"

using TModalResult = std::int32_t;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;

enum TBevelCut { bvNone, bvLowered, bvRaised };

// A container with an optional bevel and caption.
class TPanel : public TWinControl {
 public:
  explicit TPanel(TComponent* owner);

  TBevelCut BevelOuter() const { return bevel_outer_; }
  void SetBevelOuter(TBevelCut bevel);
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);

 private:
  TBevelCut bevel_outer_ = bvRaised;
  std::string caption_;
};

// A line of static text. With AutoSize (the default) the label sizes itself to
// its caption whenever the caption or the font changes.
class TLabel : public TControl {
 public:
  explicit TLabel(TComponent* owner);

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  bool AutoSize() const { return auto_size_; }
  void SetAutoSize(bool value);

 protected:
  void ApplyFont() override;

 private:
  void FitToCaption();

  std::string caption_;
  bool auto_size_ = true;
};

// A one-line edit without a length limit. It selects its whole text when it
// receives the focus from the keyboard or from a handler, not from a click.
class TEdit : public TWinControl {
 public:
  explicit TEdit(TComponent* owner);

  std::string Text() const;
  void SetText(const std::string& text);
  void SelectAll();

  // Raised on every key release (auto-repeat excluded) with the virtual key.
  void SetOnKeyUp(TKeyEvent handler) { on_key_up_ = std::move(handler); }
  // Raised for every character typed, before the edit takes it. Setting the
  // key to 0 swallows the character; another value replaces it.
  void SetOnKeyPress(TKeyPressEvent handler) { on_key_press_ = std::move(handler); }

  // The toolkit's events, for the framework's widget.
  void DoKeyUp(std::uint16_t& key, TShiftState shift);
  void DoKeyPress(char& key);

 protected:
  void ApplyColor() override;
  void FocusedByHandler() override;

 private:
  TKeyEvent on_key_up_;
  TKeyPressEvent on_key_press_;
};

class TMemo;

// The lines of a memo, as a string list would see its text: the text split at
// CR LF, a final line break not making an empty last line.
class TMemoLines {
 public:
  explicit TMemoLines(TMemo* memo) : memo_(memo) {}
  int Count() const;
  std::string Strings(int index) const;
  // Adds a line at the end of the memo (see TMemo::AddLine).
  void Add(const std::string& line);

 private:
  TMemo* memo_;
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// A multi-line plain-text edit. Its text, as read back, uses CR LF between
// lines. A lone CR or LF inside a line is not a line break: it shows as the
// symbol "␍" (U+240D) or "␊" (U+240A) and reads back as the byte it was.
//
// Lines added faster than the display's frame rate reach the toolkit's
// document together, once per frame, so that a flood of lines costs one
// document update and one repaint per frame. Every read through TMemo, and
// every input of the user, sees them at once; code that reaches past TMemo to
// the widget's document calls Flush() first.
class TMemo : public TWinControl {
 public:
  explicit TMemo(TComponent* owner);

  // The whole text with CR LF between lines. Reads the whole history: for
  // tests and rare use, not per line.
  std::string Text() const;
  void SetText(const std::string& text);
  TMemoLines* Lines() { return &lines_; }

  // Adds a line at the end: when the memo is empty or its text ends with a line
  // break, the line followed by CR LF; otherwise CR LF followed by the line.
  // The line ends at its first zero byte (and then the CR LF that would follow
  // it is not added). CR LF inside the line breaks it. The caret ends after the
  // insertion; a selection is given up. The cost does not depend on how much
  // the memo already holds.
  void AddLine(const std::string& line);
  // Puts the lines that wait for the end of the frame into the widget.
  void Flush();

  TScrollStyle ScrollBars() const { return scroll_bars_; }
  void SetScrollBars(TScrollStyle style);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value);
  bool WordWrap() const { return word_wrap_; }
  void SetWordWrap(bool value);

  // The position of the caret in the text as read back, and the selection.
  int SelStart() const;
  int SelLength() const;

 protected:
  void ApplyColor() override;

 private:
  friend class TMemoLines;
  TMemoLines lines_{this};
  TScrollStyle scroll_bars_ = ssNone;
  bool read_only_ = false;
  bool word_wrap_ = true;
};

// A list of text entries with a single selection, kept in the order added.
class TListBox;
class TListBoxItems {
 public:
  explicit TListBoxItems(TListBox* list) : list_(list) {}
  int Count() const;
  std::string Strings(int index) const;
  // Adds an entry at the end and returns its index. Raises EOutOfResources
  // "Unable to insert a line" when the list cannot take it; nothing is added.
  int Add(const std::string& text);
  // Deletes the entry at index; an index that matches no entry does nothing.
  void Delete(int index);
  void Clear();

 private:
  TListBox* list_;
};

class TListBox : public TWinControl {
 public:
  explicit TListBox(TComponent* owner);

  TListBoxItems* Items() { return &items_; }
  // The selected entry's index from 0, or -1.
  int ItemIndex() const;
  void SetItemIndex(int index);
  int ItemHeight() const { return item_height_; }
  void SetItemHeight(int pixels);

  // The most entries the list takes; the platform's list stops at 32767 on
  // some systems and memory elsewhere. Lowered by tests.
  int Capacity() const { return capacity_; }
  void SetCapacity(int entries) { capacity_ = entries; }

 protected:
  void ApplyColor() override;

 private:
  friend class TListBoxItems;
  TListBoxItems items_{this};
  int item_height_ = 13;
  int capacity_;
};

// A push button. A click (mouse, Space, Enter while it has the focus, or
// Click()) first sets its form's modal result to ModalResult, also when that
// is 0, then raises OnClick.
class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* owner);

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  TModalResult ModalResult() const { return modal_result_; }
  void SetModalResult(TModalResult result) { modal_result_ = result; }
  void SetOnClick(TNotifyEvent handler) { on_click_ = std::move(handler); }

  virtual void Click();

 private:
  std::string caption_;
  TModalResult modal_result_ = mrNone;
  TNotifyEvent on_click_;
};

enum TBitBtnKind { bkCustom, bkOK, bkCancel, bkClose };

// A button that could carry an image; the program's show their caption only.
class TBitBtn : public TButton {
 public:
  explicit TBitBtn(TComponent* owner);

  TBitBtnKind Kind() const { return kind_; }
  void SetKind(TBitBtnKind kind) { kind_ = kind; }
  // A bkClose button closes its form instead of raising OnClick.
  void Click() override;

 private:
  TBitBtnKind kind_ = bkCustom;
};
