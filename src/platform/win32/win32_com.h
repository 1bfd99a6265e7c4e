// COM on the launcher's thread: the image codecs and the splash's accessible
// object are COM objects.
#pragma once

#include "platform/win32/win32_windows.h"

#include <objbase.h>

namespace launcher {

// Releases a COM object when the scope ends.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (object_ != nullptr)
      object_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T** put() { return &object_; }
  void** put_void() { return reinterpret_cast<void**>(&object_); }

 private:
  T* object_ = nullptr;
};

// COM for this thread while it lasts (a picture decoded, a form open); the
// codecs are in-process COM servers, loaded by the path they are registered under.
class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_))
      CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT result_;
};

}  // namespace launcher
