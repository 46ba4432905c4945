// The C++ runtime's thread support (winpthreads, linked in statically) imports functions
// that Windows 2000 and XP lack: GetTickCount64 (Vista) and the vectored exception handlers
// (XP). One import the system cannot resolve stops the program before it starts, and these
// are the systems of the service benches: setup.exe installs the handset's driver there and
// the flasher runs there. The definitions below take the imports' place: each finds the
// system's own function at run time, or makes do without it.
//
// They must be linked as objects of the program (not from a library scanned before the
// runtime), and are plain pointers set before any code runs.
#include <windows.h>

namespace {

template <typename Function>
Function Kernel32(const char* name) {
  FARPROC found = ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), name);
  return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

ULONGLONG WINAPI TickCount64() {
  using Function = ULONGLONG(WINAPI*)();
  if (auto system = Kernel32<Function>("GetTickCount64")) return system();
  // The runtime measures lock waits with it; they are short, so the 49-day wrap of the
  // 32-bit count does not matter.
  return ::GetTickCount();
}

PVOID WINAPI AddHandler(ULONG first, PVECTORED_EXCEPTION_HANDLER handler) {
  using Function = PVOID(WINAPI*)(ULONG, PVECTORED_EXCEPTION_HANDLER);
  auto system = Kernel32<Function>("AddVectoredExceptionHandler");
  return system ? system(first, handler) : nullptr;
}

ULONG WINAPI RemoveHandler(PVOID handle) {
  using Function = ULONG(WINAPI*)(PVOID);
  auto system = Kernel32<Function>("RemoveVectoredExceptionHandler");
  return system && handle ? system(handle) : 0;
}

}  // namespace

extern "C" {
__attribute__((used)) ULONGLONG(WINAPI* brenvik_imp_GetTickCount64)()
    __asm__("__imp__GetTickCount64@0") = TickCount64;
__attribute__((used)) PVOID(WINAPI* brenvik_imp_AddVectoredExceptionHandler)(
    ULONG, PVECTORED_EXCEPTION_HANDLER) __asm__("__imp__AddVectoredExceptionHandler@8") =
    AddHandler;
__attribute__((used)) ULONG(WINAPI* brenvik_imp_RemoveVectoredExceptionHandler)(PVOID)
    __asm__("__imp__RemoveVectoredExceptionHandler@4") = RemoveHandler;
}
