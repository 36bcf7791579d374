// Known bad: C2712, __try in a function whose local has a destructor.
// expect seh: RunGuarded 'int \(\)'
#include <windows.h>

#include <string>

int Work(const std::wstring& title);

int RunGuarded() {
  std::wstring title = L"Kestro POS";
  __try {
    return Work(title);
  } __except (EXCEPTION_EXECUTE_HANDLER) {
    return 1;
  }
}
