#include <windows.h>

#include "tests/support/wine_detection.hpp"

namespace kestrel::testing {

bool running_under_wine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace kestrel::testing
