// The Win32 port's controls as screen readers see them: the names and
// descriptions that the program gives its controls (SetAccessibleName,
// SetAccessibleDescription) reach Windows' accessibility interfaces.
//
// A screen reader (or UI Automation, through its MSAA bridge) asks a window
// for its object with WM_GETOBJECT. A control with a name or a description of
// the program's answers with the system's own object for its class
// (CreateStdAccessibleObject: role, state, value, place, children, actions),
// wrapped so that its own name and description are the program's. The system
// offers a lighter way for this (IAccPropServices::SetHwndPropStr with
// PROPID_ACC_NAME), but Wine does not implement it, and the object here works
// on both.
//
// Main thread only: the system sends WM_GETOBJECT to the window's thread, and
// the objects live in its COM apartment, which the first answer starts.
#include "framework/gui/win32/Win32Port_p.h"

// After the system's headers, as the port's header orders them.
#include <oleacc.h>

namespace {

bool com_started = false;

// The libraries of screen readers' objects, loaded for the first one that
// asks (SystemFunction): most sessions have no screen reader.
struct AccessibilityApi {
  decltype(&CoInitializeEx) co_initialize =
      win32port::SystemFunction<decltype(&CoInitializeEx)>(L"ole32.dll", "CoInitializeEx");
  decltype(&CoUninitialize) co_uninitialize =
      win32port::SystemFunction<decltype(&CoUninitialize)>(L"ole32.dll", "CoUninitialize");
  decltype(&CreateStdAccessibleObject) create_standard =
      win32port::SystemFunction<decltype(&CreateStdAccessibleObject)>(
          L"oleacc.dll", "CreateStdAccessibleObject");
  decltype(&LresultFromObject) result_from_object =
      win32port::SystemFunction<decltype(&LresultFromObject)>(L"oleacc.dll", "LresultFromObject");
  decltype(&SysAllocStringLen) alloc_string =
      win32port::SystemFunction<decltype(&SysAllocStringLen)>(L"oleaut32.dll",
                                                              "SysAllocStringLen");

  bool Complete() const {
    return co_initialize != nullptr && co_uninitialize != nullptr && create_standard != nullptr &&
           result_from_object != nullptr && alloc_string != nullptr;
  }
};

const AccessibilityApi& Api() {
  static const AccessibilityApi api;
  return api;
}

class NamedAccessible final : public IAccessible {
 public:
  NamedAccessible(HWND window, IAccessible* standard) : window_(window), standard_(standard) {}
  NamedAccessible(const NamedAccessible&) = delete;
  NamedAccessible& operator=(const NamedAccessible&) = delete;

  // IUnknown. The interfaces of the system's object that this one does not
  // implement (IEnumVARIANT, IOleWindow) are the system object's own.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
      *object = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    return standard_->QueryInterface(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = --references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  // IDispatch.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    return standard_->GetTypeInfoCount(count);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return standard_->GetTypeInfo(index, locale, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override {
    return standard_->GetIDsOfNames(iid, names, count, locale, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                   UINT* bad_argument) override {
    return standard_->Invoke(member, iid, locale, flags, parameters, result, exception,
                             bad_argument);
  }

  // IAccessible: the name and the description of the control itself are the
  // program's; everything else is the system's.
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (IsSelf(child)) {
      if (const std::string* own = Own(&win32port::WidgetData::accessible_name)) {
        return Answer(*own, name);
      }
    }
    return standard_->get_accName(child, name);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
    if (IsSelf(child)) {
      if (const std::string* own = Own(&win32port::WidgetData::accessible_description)) {
        return Answer(*own, description);
      }
    }
    return standard_->get_accDescription(child, description);
  }
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    return standard_->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
    return standard_->get_accChildCount(count);
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
    return standard_->get_accChild(child, object);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return standard_->get_accValue(child, value);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    return standard_->get_accRole(child, role);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    return standard_->get_accState(child, state);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
    return standard_->get_accHelp(child, help);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
    return standard_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return standard_->get_accKeyboardShortcut(child, shortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
    return standard_->get_accFocus(child);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
    return standard_->get_accSelection(children);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return standard_->get_accDefaultAction(child, action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG how, VARIANT child) override {
    return standard_->accSelect(how, child);
  }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                        VARIANT child) override {
    return standard_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    return standard_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG left, LONG top, VARIANT* child) override {
    return standard_->accHitTest(left, top, child);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    return standard_->accDoDefaultAction(child);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
    return standard_->put_accName(child, name);
  }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return standard_->put_accValue(child, value);
  }

 private:
  ~NamedAccessible() { standard_->Release(); }

  static bool IsSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
  }
  // The window's text of the program's, read when asked (it may change, and
  // the window may be gone); none when the program gave none.
  const std::string* Own(std::string win32port::WidgetData::*text) const {
    win32port::WidgetData* data = win32port::DataOf(window_);
    return data != nullptr && !(data->*text).empty() ? &(data->*text) : nullptr;
  }
  static HRESULT Answer(const std::string& text, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    const std::wstring wide = win32port::ToWide(text);
    *out = Api().alloc_string(wide.data(), static_cast<UINT>(wide.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  HWND window_;
  IAccessible* standard_;  // owned: one reference
  LONG references_ = 1;
};

}  // namespace

namespace win32port {

bool AnswerGetObject(HWND window, WPARAM wparam, LPARAM lparam, LRESULT& result) {
  WidgetData* data = DataOf(window);
  if (static_cast<LONG>(lparam) != static_cast<LONG>(OBJID_CLIENT) || data == nullptr ||
      (data->accessible_name.empty() && data->accessible_description.empty())) {
    return false;
  }
  // Without the system's libraries the system's own answer serves.
  if (!Api().Complete()) return false;
  // The object is handed over through COM, which the main thread starts for
  // the first screen reader that asks (and StopToolkit ends).
  if (!com_started) {
    if (FAILED(Api().co_initialize(nullptr, COINIT_APARTMENTTHREADED))) return false;
    com_started = true;
  }
  IAccessible* standard = nullptr;
  if (FAILED(Api().create_standard(window, OBJID_CLIENT, __uuidof(IAccessible),
                                   reinterpret_cast<void**>(&standard)))) {
    return false;
  }
  auto* named = new NamedAccessible(window, standard);
  result = Api().result_from_object(__uuidof(IAccessible), wparam, named);
  named->Release();
  return true;
}

void EndAccessibility() {
  if (com_started) Api().co_uninitialize();
  com_started = false;
}

}  // namespace win32port
