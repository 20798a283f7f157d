// The standard controls: panel, label, edit, list box and push buttons (the
// memo has its own file, Memo.h).
//
// Every text property is 8-bit Windows-1251 text (std::string); the port
// converts at its edge to the toolkit's text and back, so any byte survives a
// round trip through a list box, and a character typed by the user that has no
// Windows-1251 code reads back as "?".
//
// Main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "framework/gui/Controls.h"

enum TBevelCut { bvNone, bvLowered, bvRaised };

// A container with an optional bevel.
class TPanel : public TWinControl {
 public:
  explicit TPanel(TComponent* owner, TWinControl* parent = nullptr);

  TBevelCut BevelOuter() const { return bevel_outer_; }
  void SetBevelOuter(TBevelCut bevel);

 private:
  TBevelCut bevel_outer_ = bvRaised;
};

// A line of static text that sizes itself to its caption whenever the caption
// or the font changes.
class TLabel : public TControl {
 public:
  explicit TLabel(TComponent* owner, TWinControl* parent = nullptr);

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);

 protected:
  void ApplyFont() override;

 private:
  void FitToCaption();

  std::string caption_;
};

// A one-line edit without a length limit. It selects its whole text when it
// receives the focus from the keyboard or from a handler, not from a click.
class TEdit : public TWinControl {
 public:
  explicit TEdit(TComponent* owner, TWinControl* parent = nullptr);

  std::string Text() const;
  void SetText(const std::string& text);
  void SelectAll();

  // Raised on every key release (auto-repeat excluded) with the virtual key.
  void SetOnKeyUp(TKeyEvent handler) { on_key_up_ = std::move(handler); }
  // Raised for every character typed, before the edit takes it. Setting the
  // key to 0 swallows the character; another value replaces it.
  void SetOnKeyPress(TKeyPressEvent handler) { on_key_press_ = std::move(handler); }

 protected:
  bool ColorIsBackground() const override { return true; }
  void FocusedByHandler() override { SelectAll(); }
  void WidgetKeyPress(char& key) override;
  void WidgetKeyUp(std::uint16_t key, TShiftState shift) override;

 private:
  TKeyEvent on_key_up_;
  TKeyPressEvent on_key_press_;
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

 private:
  TListBox* list_;
};

class TListBox : public TWinControl {
 public:
  explicit TListBox(TComponent* owner, TWinControl* parent = nullptr);

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
  bool ColorIsBackground() const override { return true; }

 private:
  friend class TListBoxItems;
  TListBoxItems items_{this};
  int item_height_ = 13;
  int capacity_;
};

// A push button. A click (mouse, Space, Enter while it has the focus, or
// Click()) first sets its window's modal result to ModalResult, also when that
// is 0, then raises OnClick.
class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* owner, TWinControl* parent = nullptr);

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  TModalResult ModalResult() const { return modal_result_; }
  void SetModalResult(TModalResult result) { modal_result_ = result; }
  void SetOnClick(TNotifyEvent handler) { on_click_ = std::move(handler); }

  void Click();

 protected:
  void WidgetClicked() override { Click(); }

 private:
  std::string caption_;
  TModalResult modal_result_ = mrNone;
  TNotifyEvent on_click_;
};

// A button that could carry an image; the program's show their caption only.
class TBitBtn : public TButton {
 public:
  explicit TBitBtn(TComponent* owner, TWinControl* parent = nullptr) : TButton(owner, parent) {}
};
