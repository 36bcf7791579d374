#include "host/startup_error.h"

#include <windows.h>

namespace kestro {

namespace {

constexpr wchar_t kFailureHeading[] =
    L"Kestro POS failed to start.\n"
    L"Kestro POS не вдалося запустити.\n"
    L"Kestro POS не удалось запустить.\n\n%s";

}  // namespace

void ShowStartupError(const wchar_t* detail) {
  // wsprintfW never writes more than 1024 units, which the buffer holds.
  wchar_t text[1024];
  ::wsprintfW(text, kFailureHeading, detail);
  ::MessageBoxW(nullptr, text, kWindowTitle, MB_OK | MB_ICONERROR | MB_TOPMOST);
}

}  // namespace kestro
