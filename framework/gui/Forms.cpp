#include "framework/gui/Forms.h"

#include <algorithm>

#include "framework/core/ScopeGuard.h"

namespace {

TFormHost* host = nullptr;

// Where a length of size starts when centred in a length of area_size that
// starts at area_start, in whole pixels.
int CentredStart(int area_start, int area_size, int size) {
  return area_start + (area_size - size) / 2;
}

}  // namespace

void TCustomForm::SetHost(TFormHost* new_host) {
  host = new_host;
}

TCustomForm::TCustomForm(TComponent* owner) : TWinControl(owner, port::WidgetKind::Window) {
  TControl::SetVisible(false);
  SetParentFont(false);
  SetColor(clBtnFace);
  ApplyFont();
  ApplyWindowFlags();
}

TCustomForm::~TCustomForm() {
  // The derived form's fields are gone by now; only the contents are left.
  field_resets_.clear();
  DestroyContents();
  if (host != nullptr) host->FormDestroyed(this);
}

void TCustomForm::DestroyContents() {
  while (ControlCount() > 0) DestroyComponent(Controls(ControlCount() - 1));
  while (ComponentCount() > 0) DestroyComponent(Components(ComponentCount() - 1));
}

void TCustomForm::DestroyComponent(TComponent* component) {
  if (auto* container = dynamic_cast<TWinControl*>(component)) {
    while (container->ControlCount() > 0) {
      DestroyComponent(container->Controls(container->ControlCount() - 1));
    }
  }
  for (FieldReset& field : field_resets_) {
    if (field.component == component) {
      field.reset();
      field.component = nullptr;
    }
  }
  delete component;
}

void TCustomForm::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  if (Widget() != nullptr) port::SetText(Widget(), caption_);
}

void TCustomForm::SetClientSize(int width, int height) {
  SetBounds(Left(), Top(), width, height);
  ApplyWindowFlags();
}

void TCustomForm::SetBorderStyle(TBorderStyle style) {
  border_style_ = style;
  ApplyWindowFlags();
}

void TCustomForm::SetBorderIcons(TBorderIcons icons) {
  border_icons_ = icons;
  ApplyWindowFlags();
}

void TCustomForm::ApplyWindowFlags() {
  if (Widget() == nullptr) return;
  port::WindowFrame frame = port::WindowFrame::Fixed;
  switch (border_style_) {
    case bsNone:
      frame = port::WindowFrame::None;
      break;
    case bsSingle:
      frame = port::WindowFrame::Fixed;
      break;
    case bsSizeable:
      frame = port::WindowFrame::Sizeable;
      break;
    case bsDialog:
      frame = port::WindowFrame::Dialog;
      break;
  }
  port::SetWindowFrame(Widget(), frame, (border_icons_ & biSystemMenu) != 0,
                       (border_icons_ & biMinimize) != 0, (border_icons_ & biMaximize) != 0,
                       Width(), Height());
}

int TCustomForm::FrameLeft() const {
  return Widget() != nullptr ? port::FrameRect(Widget()).left : 0;
}
int TCustomForm::FrameTop() const {
  return Widget() != nullptr ? port::FrameRect(Widget()).top : 0;
}

void TCustomForm::PlaceOnFirstShow() {
  if (placed_) return;
  placed_ = true;
  if (position_ != poScreenCenter || Widget() == nullptr) return;
  port::Rect frame = port::FrameRect(Widget());
  // Before the window manager has framed the window its frame is the window
  // itself (or reads smaller); it is centred again once the frame is known.
  recentre_when_framed_ = frame.width <= Width() && frame.height <= Height();
  if (recentre_when_framed_) port::WatchFraming(Widget());
  CentreOnScreen();
}

void TCustomForm::CentreOnScreen() {
  port::Rect area = port::ScreenArea();
  if (area.width <= 0 || area.height <= 0) return;
  port::Rect frame = port::FrameRect(Widget());
  int width = std::max(frame.width, Width());
  int height = std::max(frame.height, Height());
  port::MoveFrame(Widget(), CentredStart(area.left, area.width, width),
                  CentredStart(area.top, area.height, height));
}

void TCustomForm::WidgetFramed() {
  if (!recentre_when_framed_) return;
  recentre_when_framed_ = false;
  CentreOnScreen();
}

void TCustomForm::SetVisible(bool visible) {
  if (visible == Visible()) return;
  TControl::SetVisible(visible);
  if (Widget() == nullptr) return;
  if (!visible) {
    port::SetVisible(Widget(), false);
    return;
  }
  if (on_show_) on_show_(this);
  if (!Visible() || Widget() == nullptr) return;  // OnShow hid it again
  UpdateTabOrder();
  PlaceOnFirstShow();
  port::ShowWindow(Widget());
  // Without an active control, the first control in tab order that can take
  // the focus gets it.
  TWinControl* active = ActiveControl();
  if (active == nullptr || !active->CanFocus()) {
    for (TWinControl* control : TabList()) {
      if (control->CanFocus()) {
        port::SetFocus(control->Widget(), /*by_handler=*/false);
        break;
      }
    }
  }
}

TWinControl* TCustomForm::ActiveControl() const {
  if (Widget() == nullptr) return nullptr;
  TWidgetClient* focused = port::FocusedClient(Widget());
  auto* control =
      focused != nullptr ? dynamic_cast<TWinControl*>(focused->ClientObject()) : nullptr;
  return control == this ? nullptr : control;
}

std::vector<TWinControl*> TCustomForm::TabList() {
  std::vector<TWinControl*> list;
  std::function<void(TWinControl*)> collect = [&](TWinControl* parent) {
    std::vector<TWinControl*> children;
    for (int i = 0; i < parent->ControlCount(); ++i) {
      if (auto* child = dynamic_cast<TWinControl*>(parent->Controls(i))) children.push_back(child);
    }
    std::stable_sort(children.begin(), children.end(),
                     [](TWinControl* a, TWinControl* b) { return a->TabOrder() < b->TabOrder(); });
    for (TWinControl* child : children) {
      if (child->TabStop()) list.push_back(child);
      collect(child);
    }
  };
  collect(this);
  return list;
}

void TCustomForm::UpdateTabOrder() {
  std::vector<TWinControl*> list = TabList();
  for (std::size_t i = 1; i < list.size(); ++i) {
    if (list[i - 1]->Widget() != nullptr && list[i]->Widget() != nullptr) {
      port::SetTabOrder(list[i - 1]->Widget(), list[i]->Widget());
    }
  }
}

void TCustomForm::Loaded() {
  TWinControl::Loaded();
  AlignControls();
  UpdateTabOrder();
}

TModalResult TCustomForm::RunModal() {
  if (Visible() || !Enabled() || modal_ || Widget() == nullptr || host == nullptr) {
    throw EInvalidOperation("Cannot make a visible window modal");
  }
  port::ReleaseMouse();
  modal_ = true;
  port::SavedFocus saved;
  // While modal the dialog belongs to the window that was active, so that it
  // stays above it; afterwards it is a window of its own again.
  NativeWidget owner = saved.Active();
  TCustomForm* main = host->MainWindow();
  if (owner == nullptr && main != nullptr && main != this && main->Visible()) {
    owner = main->Widget();
  }
  port::BeginModal(Widget(), owner != Widget() ? owner : nullptr);
  ScopeGuard restore([this, &saved] {
    if (Visible()) Hide();
    if (Widget() != nullptr) port::EndModal(Widget());
    saved.Restore();
    modal_ = false;
  });

  Show();
  modal_result_ = mrNone;
  do {
    host->PumpOneMessage();
    if (host->QuitRequested()) {
      modal_result_ = mrCancel;
    } else if (modal_result_ != mrNone) {
      ModalCloseAttempt();
    }
  } while (modal_result_ == mrNone);
  return modal_result_;
}

TCloseAction TCustomForm::AskClose() {
  bool can_close = true;
  if (on_close_query_) on_close_query_(this, can_close);
  if (!can_close) return caNone;
  TCloseAction action = caHide;
  if (on_close_) on_close_(this, action);
  return action;
}

void TCustomForm::ModalCloseAttempt() {
  TCloseAction action = caNone;
  try {
    action = AskClose();
  } catch (...) {
    modal_result_ = mrNone;
    host->ReportError(this, std::current_exception());
    return;
  }
  if (action == caNone) {
    modal_result_ = mrNone;
  } else if (action == caFree) {
    Release();
  }
}

void TCustomForm::CloseForm() {
  if (modal_) {
    // The modal loop finishes the close.
    modal_result_ = mrCancel;
    return;
  }
  TCloseAction action = AskClose();
  if (action == caNone) return;
  if (host != nullptr && host->MainWindow() == this) {
    host->Quit();
  } else if (action == caFree) {
    Release();
  } else if (action == caHide) {
    Hide();
  }
}

void TCustomForm::RequestAttention() {
  if (active_ || attention_requested_ || !Visible() || Widget() == nullptr) return;
  attention_requested_ = true;
  port::RequestAttention(Widget());
}

void TCustomForm::WidgetActivated(bool active) {
  active_ = active;
  if (active) attention_requested_ = false;
}

void TCustomForm::Release() {
  if (Widget() != nullptr) port::PostRelease(Widget());
}

void TCustomForm::WidgetReleased() {
  DestroyContents();
  delete this;
}
