#include "platform/win32/win32_accessible.h"

#include <atomic>
#include <new>
#include <string>
#include <utility>

#include "platform/win32/win32_dpi.h"

#include <oleacc.h>

namespace launcher {

namespace {

using CreateStdAccessibleObjectFn = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
using LresultFromObjectFn = LRESULT(WINAPI*)(REFIID, WPARAM, IUnknown*);
using SysAllocStringFn = BSTR(WINAPI*)(const OLECHAR*);

bool IsSelf(const VARIANT& child) {
  return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// The system's accessible object for the client area with another name: the
// annotation service (IAccPropServices) would do the same, but Wine has none,
// and one way on both keeps what is tested what ships. Everything but the
// name is the system's.
class NamedAccessible final : public IAccessible, public IOleWindow {
 public:
  NamedAccessible(IAccessible* inner, HWND hwnd, std::wstring name, SysAllocStringFn alloc)
      : inner_(inner), hwnd_(hwnd), name_(std::move(name)), alloc_(alloc) {}
  NamedAccessible(const NamedAccessible&) = delete;
  NamedAccessible& operator=(const NamedAccessible&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr)
      return E_POINTER;
    if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible))
      *out = static_cast<IAccessible*>(this);
    else if (iid == __uuidof(IOleWindow))
      *out = static_cast<IOleWindow*>(this);
    else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0)
      delete this;
    return left;
  }

  // IOleWindow: WindowFromAccessibleObject asks it.
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* out) override {
    if (out == nullptr)
      return E_POINTER;
    *out = hwnd_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    return inner_->GetTypeInfoCount(count);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override {
    return inner_->GetTypeInfo(index, lcid, info);
  }
  HRESULT STDMETHODCALLTYPE
  GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override {
    return inner_->GetIDsOfNames(iid, names, count, lcid, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id,
                                   REFIID iid,
                                   LCID lcid,
                                   WORD flags,
                                   DISPPARAMS* params,
                                   VARIANT* result,
                                   EXCEPINFO* exception,
                                   UINT* argument) override {
    return inner_->Invoke(id, iid, lcid, flags, params, result, exception, argument);
  }

  // IAccessible
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!IsSelf(child))
      return inner_->get_accName(child, name);
    if (name == nullptr)
      return E_INVALIDARG;
    *name = alloc_(name_.c_str());
    return *name != nullptr ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    return inner_->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
    return inner_->get_accChildCount(count);
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
    return inner_->get_accChild(child, out);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return inner_->get_accValue(child, value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
    return inner_->get_accDescription(child, text);
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    return inner_->get_accRole(child, role);
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    return inner_->get_accState(child, state);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
    return inner_->get_accHelp(child, help);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
    return inner_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return inner_->get_accKeyboardShortcut(child, shortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
    return inner_->get_accFocus(focus);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
    return inner_->get_accSelection(selection);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return inner_->get_accDefaultAction(child, action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
    return inner_->accSelect(flags, child);
  }
  HRESULT STDMETHODCALLTYPE
  accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override {
    return inner_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
    return inner_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG left, LONG top, VARIANT* child) override {
    return inner_->accHitTest(left, top, child);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    return inner_->accDoDefaultAction(child);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
    return inner_->put_accName(child, name);
  }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return inner_->put_accValue(child, value);
  }

 private:
  ~NamedAccessible() { inner_->Release(); }

  std::atomic<ULONG> references_{1};
  IAccessible* inner_;
  HWND hwnd_;
  std::wstring name_;
  SysAllocStringFn alloc_;
};

}  // namespace

LRESULT AnswerAccessibleName(HWND hwnd, WPARAM wparam, const std::wstring& name) {
  // oleacc is loaded only when something asks: most runs have no reader.
  const auto create_standard = reinterpret_cast<CreateStdAccessibleObjectFn>(
      SystemFunction(L"oleacc.dll", "CreateStdAccessibleObject"));
  const auto from_object =
      reinterpret_cast<LresultFromObjectFn>(SystemFunction(L"oleacc.dll", "LresultFromObject"));
  const auto alloc =
      reinterpret_cast<SysAllocStringFn>(SystemFunction(L"oleaut32.dll", "SysAllocString"));
  if (create_standard == nullptr || from_object == nullptr || alloc == nullptr)
    return 0;
  IAccessible* inner = nullptr;
  if (FAILED(create_standard(hwnd, OBJID_CLIENT, __uuidof(IAccessible),
                             reinterpret_cast<void**>(&inner))) ||
      inner == nullptr)
    return 0;
  NamedAccessible* named = nullptr;
  try {
    named = new NamedAccessible(inner, hwnd, name, alloc);
  } catch (const std::bad_alloc&) {
    // A window procedure must not throw; the window answers as any other.
    inner->Release();
    return 0;
  }
  // LresultFromObject holds its own reference until the client takes the object.
  const LRESULT result =
      from_object(__uuidof(IAccessible), wparam, static_cast<IAccessible*>(named));
  named->Release();
  return result > 0 ? result : 0;
}

}  // namespace launcher
