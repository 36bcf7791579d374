#include "tests/e2e/host_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <utility>

namespace kestro_e2e {
namespace {

// The test executable sits in the build's runtime folder, beside kestro_pos.exe and the DLLs.
std::wstring TestBinaryFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/"));
}

std::wstring NewTemporaryFolder() {
  static int counter = 0;
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  std::wstring path = std::wstring(temp) + L"kestro_e2e_" +
                      std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
  ::CreateDirectoryW(path.c_str(), nullptr);
  return path;
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring child = path + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        ::DeleteFileW(child.c_str());
      }
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(path.c_str());
}

void CopyBeside(const std::wstring& from_folder, const std::wstring& name,
                const std::wstring& to_folder) {
  ::CopyFileW((from_folder + L"\\" + name).c_str(), (to_folder + L"\\" + name).c_str(), FALSE);
}

void WriteFile(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary);
  out << bytes;
}

std::string ReadFile(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    text.append(buffer, read);
  }
  ::CloseHandle(file);
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

RunFolder::RunFolder(const std::string& script, Bundle bundle) : path_(NewTemporaryFolder()) {
  const std::wstring binaries = TestBinaryFolder();
  CopyBeside(binaries, L"kestro_pos.exe", path_);
  WIN32_FIND_DATAW entry;
  HANDLE find = ::FindFirstFileW((binaries + L"\\*.dll").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      CopyBeside(binaries, entry.cFileName, path_);
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
  }
  if (bundle == Bundle::kNoDataFolder) return;
  const std::wstring data = path_ + L"\\data";
  ::CreateDirectoryW(data.c_str(), nullptr);
  if (bundle != Bundle::kNoAssets)
    ::CreateDirectoryW((data + L"\\flutter_assets").c_str(), nullptr);
  if (bundle != Bundle::kNoIcuData) WriteFile(data + L"\\icudtl.dat", "icu");
  if (bundle != Bundle::kNoApp) WriteFile(data + L"\\app.so", script);
}

RunFolder::~RunFolder() {
  for (const std::string& line : SplitLines(ReadFile(transcript_path()))) {
    if (line.rfind("fault ", 0) == 0) ADD_FAILURE() << "the engine library was misused: " << line;
  }
  RemoveTree(path_);
}

void RunFolder::AddFakeDwmapi() {
  CopyBeside(TestBinaryFolder() + L"\\test_only", L"dwmapi.dll", path_);
}

std::vector<std::string> RunFolder::DwmCalls() const {
  return SplitLines(ReadFile(dwm_log_path()));
}

std::vector<std::string> RunFolder::Transcript() const {
  std::vector<std::string> lines;
  for (std::string line : SplitLines(ReadFile(transcript_path()))) {
    const size_t comment = line.find(" # ");
    if (comment != std::string::npos) line.erase(comment);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool RunFolder::TranscriptHas(const std::string& line) const {
  for (const std::string& written : Transcript()) {
    if (written == line) return true;
  }
  return false;
}

std::vector<std::string> RunFolder::TranscriptAfter(const std::string& line) const {
  std::vector<std::string> lines = Transcript();
  auto found = std::find(lines.begin(), lines.end(), line);
  if (found == lines.end()) return {};
  return std::vector<std::string>(found + 1, lines.end());
}

bool RunFolder::WaitForTranscriptLine(const std::string& line, DWORD timeout_ms) const {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  while (!TranscriptHas(line)) {
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(10);
  }
  return true;
}

void RunFolder::UseSimulatedBluetooth(const std::string& world) {
  executable_name_ = L"kestro_pos_simulated.exe";
  CopyBeside(TestBinaryFolder(), executable_name_, path_);
  WriteFile(path_ + L"\\simulated_bluetooth.txt", world);
}

std::string RunFolder::PrinterBytes(const std::string& address_digits) const {
  const std::wstring name(address_digits.begin(), address_digits.end());
  return ReadFile(path_ + L"\\printers\\" + name + L".bin");
}

HostProcess::HostProcess(const RunFolder& folder, const std::wstring& arguments) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE stderr_write = nullptr;
  ::CreatePipe(&stderr_read_, &stderr_write, &inheritable, 0);
  ::SetHandleInformation(stderr_read_, HANDLE_FLAG_INHERIT, 0);
  HANDLE null_device =
      ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inheritable, OPEN_EXISTING, 0, nullptr);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_device;
  startup.hStdOutput = null_device;
  startup.hStdError = stderr_write;

  ::SetEnvironmentVariableW(L"KESTRO_STANDIN_TRANSCRIPT", folder.transcript_path().c_str());
  ::SetEnvironmentVariableW(L"KESTRO_FAKE_DWMAPI_LOG", folder.dwm_log_path().c_str());
  const std::wstring executable = folder.executable();
  std::wstring command_line = L"\"" + executable + L"\"";
  if (!arguments.empty()) command_line += L" " + arguments;
  ::CreateProcessW(executable.c_str(), &command_line[0], nullptr, nullptr, TRUE, 0, nullptr,
                   folder.path().c_str(), &startup, &info_);
  // Only the child may hold the write end, so the pipe ends when the child does.
  ::CloseHandle(stderr_write);
  ::CloseHandle(null_device);

  reader_ = std::thread([this]() {
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(stderr_read_, buffer, sizeof buffer, &read, nullptr) && read > 0) {
      stderr_text_.append(buffer, read);
    }
  });
}

HostProcess::~HostProcess() {
  if (info_.hProcess != nullptr && !WaitForExit(0)) {
    ::TerminateProcess(info_.hProcess, 99);
    ::WaitForSingleObject(info_.hProcess, kTimeoutMs);
  }
  if (reader_.joinable()) reader_.join();
  ::CloseHandle(stderr_read_);
  if (info_.hThread != nullptr) ::CloseHandle(info_.hThread);
  if (info_.hProcess != nullptr) ::CloseHandle(info_.hProcess);
}

std::optional<DWORD> HostProcess::WaitForExit(DWORD timeout_ms) {
  if (info_.hProcess == nullptr ||
      ::WaitForSingleObject(info_.hProcess, timeout_ms) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  ::GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

std::string HostProcess::StandardError() {
  if (reader_.joinable()) reader_.join();
  return stderr_text_;
}

std::vector<std::string> HostProcess::StandardErrorLines() { return SplitLines(StandardError()); }

HWND FindProcessWindow(DWORD process_id, const wchar_t* window_class, const wchar_t* title) {
  struct Search {
    DWORD process_id;
    const wchar_t* window_class;
    const wchar_t* title;
    HWND found;
  } search{process_id, window_class, title, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* search = reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner != search->process_id) return TRUE;
        wchar_t text[256];
        if (search->window_class != nullptr) {
          ::GetClassNameW(window, text, 256);
          if (std::wstring(text) != search->window_class) return TRUE;
        }
        ::GetWindowTextW(window, text, 256);
        if (std::wstring(text) != search->title) return TRUE;
        search->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForProcessWindow(DWORD process_id, const wchar_t* window_class, const wchar_t* title,
                          DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;;) {
    HWND window = FindProcessWindow(process_id, window_class, title);
    if (window != nullptr || ::GetTickCount64() > deadline) return window;
    ::Sleep(10);
  }
}

HWND WaitForDialog(DWORD process_id, DWORD timeout_ms) {
  return WaitForProcessWindow(process_id, L"#32770", kTitle, timeout_ms);
}

std::wstring DialogText(HWND dialog) {
  wchar_t text[2048] = L"";
  ::GetDlgItemTextW(dialog, 0xFFFF, text, 2048);
  return text;
}

void PressOk(HWND dialog) { ::PostMessageW(dialog, WM_COMMAND, IDOK, 0); }

RECT WindowRect(HWND window) {
  RECT rect{};
  ::GetWindowRect(window, &rect);
  return rect;
}

RECT ClientRect(HWND window) {
  RECT rect{};
  ::GetClientRect(window, &rect);
  return rect;
}

std::string Hex(const std::string& bytes) {
  if (bytes.empty()) return "-";
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

ScopedUserDword::ScopedUserDword(const wchar_t* key, const wchar_t* name, DWORD value)
    : key_(key), name_(name) {
  DWORD previous = 0;
  DWORD size = sizeof(previous);
  if (::RegGetValueW(HKEY_CURRENT_USER, key_, name_, RRF_RT_REG_DWORD, nullptr, &previous, &size) ==
      ERROR_SUCCESS) {
    previous_ = previous;
  }
  Set(value);
}

ScopedUserDword::~ScopedUserDword() {
  if (previous_) {
    Set(*previous_);
  } else {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, key_, name_);
  }
}

void ScopedUserDword::Set(DWORD value) {
  ::RegSetKeyValueW(HKEY_CURRENT_USER, key_, name_, REG_DWORD, &value, sizeof(value));
}

}  // namespace kestro_e2e
