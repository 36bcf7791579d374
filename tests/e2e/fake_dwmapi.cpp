// A test-only dwmapi.dll: Wine answers DwmSetWindowAttribute without keeping anything, so the
// theme test places this library beside kestro_pos.exe, where it is loaded instead of Wine's.
// Every call appends "<attribute> <value>" (the value as a 32-bit number) to the file named by
// KESTRO_FAKE_DWMAPI_LOG. Never installed or shipped.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

extern "C" __declspec(dllexport) HRESULT WINAPI
    DwmSetWindowAttribute(HWND window, DWORD attribute, LPCVOID value, DWORD size) {
  if (window == nullptr || value == nullptr) return E_INVALIDARG;
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(L"KESTRO_FAKE_DWMAPI_LOG", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return S_OK;
  std::ofstream(std::filesystem::path(path), std::ios::app | std::ios::binary)
      << attribute << " "
      << (size == sizeof(DWORD) ? std::to_string(*static_cast<const DWORD*>(value))
                                : "size-" + std::to_string(size))
      << "\n";
  return S_OK;
}
