// A test-only dwmapi.dll: Wine answers DwmSetWindowAttribute without keeping anything, so the
// theme test places this library beside kestro_pos.exe, where it is loaded instead of Wine's.
// Every call appends "<attribute> <value>" (the value as a 32-bit number) to the file named by
// KESTRO_FAKE_DWMAPI_LOG. Never installed or shipped.
#include <windows.h>

#include <string>

namespace {

void AppendLine(const std::string& line) {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableW(L"KESTRO_FAKE_DWMAPI_LOG", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  HANDLE file = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::CloseHandle(file);
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT WINAPI
    DwmSetWindowAttribute(HWND window, DWORD attribute, LPCVOID value, DWORD size) {
  if (window == nullptr || value == nullptr) return E_INVALIDARG;
  std::string line = std::to_string(attribute) + " ";
  if (size == sizeof(DWORD)) {
    line += std::to_string(*static_cast<const DWORD*>(value));
  } else {
    line += "size-" + std::to_string(size);
  }
  AppendLine(line + "\n");
  return S_OK;
}
