// Known bad: a branch only Visual Studio compiles, and it does not compile (wcsnlen takes a
// bound); no other build of the project would ever see it.
// expect msvc: no matching function for call to 'wcsnlen'
#include <wchar.h>

int TitleLength(const wchar_t* title) {
#ifdef _MSC_VER
  return static_cast<int>(wcsnlen(title));
#else
  return static_cast<int>(wcslen(title));
#endif
}
