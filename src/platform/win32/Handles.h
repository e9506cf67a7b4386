#pragma once

// One move-only owner per kind of Windows handle. Each closes its handle with the call that
// belongs to it when it goes; copying is not possible, moving hands the handle on.

#include <windows.h>

#include <utility>

template <typename THandleType, auto CloseFn>
class TUniqueHandle {
 public:
  TUniqueHandle() = default;
  explicit TUniqueHandle(THandleType handle) : Handle(handle) {}
  TUniqueHandle(TUniqueHandle&& other) noexcept : Handle(std::exchange(other.Handle, nullptr)) {}
  TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.Handle, nullptr));
    return *this;
  }
  TUniqueHandle(const TUniqueHandle&) = delete;
  TUniqueHandle& operator=(const TUniqueHandle&) = delete;
  ~TUniqueHandle() { Reset(); }

  THandleType Get() const { return Handle; }
  explicit operator bool() const { return Handle != nullptr; }
  // Closes what is held and takes the new handle.
  void Reset(THandleType handle = nullptr) {
    if (Handle) CloseFn(Handle);
    Handle = handle;
  }
  // Gives the handle up without closing it.
  THandleType Release() { return std::exchange(Handle, nullptr); }

 private:
  THandleType Handle = nullptr;
};

namespace handles_detail {
inline void CloseKernel(HANDLE h) {
  CloseHandle(h);
}
inline void ReleaseLibrary(HMODULE h) {
  FreeLibrary(h);
}
inline void DeleteGdi(HGDIOBJ h) {
  DeleteObject(h);
}
inline void DeleteMemoryDc(HDC h) {
  DeleteDC(h);
}
inline void DestroyIconHandle(HICON h) {
  DestroyIcon(h);
}
inline void DestroyWindowHandle(HWND h) {
  DestroyWindow(h);
}
}  // namespace handles_detail

// Process, thread, snapshot, event: CloseHandle. Both failure values of the creating calls
// (null and INVALID_HANDLE_VALUE) count as no handle.
class TKernelHandle : public TUniqueHandle<HANDLE, handles_detail::CloseKernel> {
 public:
  TKernelHandle() = default;
  explicit TKernelHandle(HANDLE handle)
      : TUniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
};

// A library loaded at run time: FreeLibrary. Results below 32 come from old loaders as error
// codes and count as no module.
class TModuleHandle : public TUniqueHandle<HMODULE, handles_detail::ReleaseLibrary> {
 public:
  TModuleHandle() = default;
  explicit TModuleHandle(HMODULE module)
      : TUniqueHandle(reinterpret_cast<UINT_PTR>(module) < 32 ? nullptr : module) {}
  static TModuleHandle Load(const char* path) { return TModuleHandle(LoadLibraryA(path)); }
};

// Bitmaps, fonts, brushes, regions: DeleteObject.
template <typename TGdi>
using TGdiObject = TUniqueHandle<TGdi, handles_detail::DeleteGdi>;
// A memory device context from CreateCompatibleDC: DeleteDC.
using TMemoryDc = TUniqueHandle<HDC, handles_detail::DeleteMemoryDc>;
// An icon made by the program (not a shared one from LoadIcon): DestroyIcon.
using TIconHandle = TUniqueHandle<HICON, handles_detail::DestroyIconHandle>;
// A window the program created and owns: DestroyWindow.
using TWindowHandle = TUniqueHandle<HWND, handles_detail::DestroyWindowHandle>;

// An object selected into a device context for a scope; the one it replaced comes back after.
class TSelection {
 public:
  TSelection(HDC dc, HGDIOBJ object)
      : Dc(dc), Previous(object ? SelectObject(dc, object) : nullptr) {}
  TSelection(const TSelection&) = delete;
  TSelection& operator=(const TSelection&) = delete;
  ~TSelection() {
    if (Previous && Previous != HGDI_ERROR) SelectObject(Dc, Previous);
  }

 private:
  HDC Dc;
  HGDIOBJ Previous;
};
