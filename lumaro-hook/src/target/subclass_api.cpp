#include "target/subclass_api.h"

namespace lumaro::hook {
namespace {

using SetFn = BOOL(WINAPI*)(HWND, SUBCLASSPROC, UINT_PTR, DWORD_PTR);
using GetFn = BOOL(WINAPI*)(HWND, SUBCLASSPROC, UINT_PTR, DWORD_PTR*);
using RemoveFn = BOOL(WINAPI*)(HWND, SUBCLASSPROC, UINT_PTR);
using DefFn = LRESULT(WINAPI*)(HWND, UINT, WPARAM, LPARAM);

struct Api {
  SetFn set;
  GetFn get;
  RemoveFn remove;
  DefFn def;
};

// Plain data: filled once under the init-once, never freed. comctl32 stays
// loaded for the life of the process once we have asked for it, so the
// pointers stay valid even across unloads and reloads of this DLL.
INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
Api g_api = {};

template <typename Fn>
Fn lookup(HMODULE module, const char* name, WORD ordinal) noexcept {
  FARPROC found = GetProcAddress(module, name);
  if (!found) found = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(found));
}

BOOL CALLBACK resolve(PINIT_ONCE, PVOID, PVOID*) noexcept {
  HMODULE comctl = LoadLibraryW(L"comctl32.dll");
  if (comctl) {
    g_api.set = lookup<SetFn>(comctl, "SetWindowSubclass", 410);
    g_api.get = lookup<GetFn>(comctl, "GetWindowSubclass", 411);
    g_api.remove = lookup<RemoveFn>(comctl, "RemoveWindowSubclass", 412);
    g_api.def = lookup<DefFn>(comctl, "DefSubclassProc", 413);
  }
  return TRUE;
}

const Api& api() noexcept {
  // Concurrent first callers block until the first one has resolved.
  InitOnceExecuteOnce(&g_once, &resolve, nullptr, nullptr);
  return g_api;
}

}  // namespace

bool set_subclass(HWND window, SUBCLASSPROC proc, UINT_PTR id, DWORD_PTR data) noexcept {
  const Api& a = api();
  return a.set && a.set(window, proc, id, data);
}

bool get_subclass(HWND window, SUBCLASSPROC proc, UINT_PTR id, DWORD_PTR* data) noexcept {
  const Api& a = api();
  *data = 0;
  return a.get && a.get(window, proc, id, data);
}

bool remove_subclass(HWND window, SUBCLASSPROC proc, UINT_PTR id) noexcept {
  const Api& a = api();
  return a.remove && a.remove(window, proc, id);
}

LRESULT def_subclass_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  const Api& a = api();
  return a.def ? a.def(window, message, wparam, lparam) : DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace lumaro::hook
