// Run folders, the host process, its windows and its transcript for the end-to-end tests.
#include "tests/e2e/host_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace kestro_e2e {
namespace {

namespace fs = std::filesystem;

fs::path NewTemporaryFolder() {
  static int counter = 0;
  const fs::path path =
      fs::temp_directory_path() /
      ("kestro_e2e_" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(++counter));
  fs::create_directories(path);
  return path;
}

void CopyBeside(const fs::path& from_folder, const fs::path& name, const fs::path& to_folder) {
  fs::copy_file(from_folder / name, to_folder / name, fs::copy_options::overwrite_existing);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

std::string ReadFile(const std::wstring& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  std::istringstream stream(ReadFile(path));
  std::string line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::wstring BinaryFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(std::wstring(path, length)).parent_path().wstring();
}

RunFolder::RunFolder(const std::string& script, bool with_bundle)
    : path_(NewTemporaryFolder().wstring()) {
  CopyBeside(BinaryFolder(), L"kestro_pos.exe", path_);
  for (const fs::directory_entry& entry : fs::directory_iterator(BinaryFolder())) {
    if (entry.path().extension() == ".dll")
      CopyBeside(BinaryFolder(), entry.path().filename(), path_);
  }
  if (!with_bundle) return;
  const fs::path data = fs::path(path_) / "data";
  fs::create_directories(data / "flutter_assets");
  WriteFile(data / "icudtl.dat", "icu");
  WriteFile(data / "app.so", script);
}

RunFolder::~RunFolder() {
  for (const std::string& line : Transcript()) {
    if (line.rfind("fault ", 0) == 0) ADD_FAILURE() << "the engine library was misused: " << line;
  }
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void RunFolder::AddFakeDwmapi() {
  CopyBeside(BinaryFolder() + L"\\test_only", L"dwmapi.dll", path_);
}

std::vector<std::string> RunFolder::Transcript() const {
  std::vector<std::string> lines = ReadLines(path_ + L"\\transcript.txt");
  for (std::string& line : lines) line = line.substr(0, line.find(" # "));
  return lines;
}

std::vector<std::string> RunFolder::TranscriptAfter(const std::string& line) const {
  std::vector<std::string> lines = Transcript();
  auto found = std::find(lines.begin(), lines.end(), line);
  if (found == lines.end()) return {};
  return std::vector<std::string>(found + 1, lines.end());
}

bool RunFolder::WaitForTranscriptLine(const std::string& line) const {
  const ULONGLONG deadline = ::GetTickCount64() + kTimeoutMs;
  for (;;) {
    const std::vector<std::string> lines = Transcript();
    if (std::find(lines.begin(), lines.end(), line) != lines.end()) return true;
    if (::GetTickCount64() > deadline) return false;
    ::Sleep(10);
  }
}

void RunFolder::UseExecutable(const std::wstring& name) {
  executable_name_ = name;
  CopyBeside(BinaryFolder(), executable_name_, path_);
}

void RunFolder::UseSimulatedBluetooth(const std::string& world) {
  UseExecutable(L"kestro_pos_simulated.exe");
  WriteFile(path_ + L"\\simulated_bluetooth.txt", world);
}

std::string RunFolder::PrinterBytes(const std::string& address_digits) const {
  const std::wstring name(address_digits.begin(), address_digits.end());
  return ReadFile(path_ + L"\\printers\\" + name + L".bin");
}

HostProcess::HostProcess(const RunFolder& folder, const std::wstring& arguments)
    : stderr_path_(folder.path() + L"\\stderr.txt") {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE stderr_file =
      ::CreateFileW(stderr_path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE null_device =
      ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inheritable, OPEN_EXISTING, 0, nullptr);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = null_device;
  startup.hStdError = stderr_file;

  ::SetEnvironmentVariableW(L"KESTRO_STANDIN_TRANSCRIPT",
                            (folder.path() + L"\\transcript.txt").c_str());
  ::SetEnvironmentVariableW(L"KESTRO_FAKE_DWMAPI_LOG", (folder.path() + L"\\dwmapi.txt").c_str());
  std::wstring command_line = L"\"" + folder.executable() + L"\" " + arguments;
  ::CreateProcessW(folder.executable().c_str(), &command_line[0], nullptr, nullptr, TRUE, 0,
                   nullptr, folder.path().c_str(), &startup, &info_);
  ::CloseHandle(stderr_file);
  ::CloseHandle(null_device);
}

HostProcess::~HostProcess() {
  if (info_.hProcess != nullptr && !WaitForExit(0)) {
    ::TerminateProcess(info_.hProcess, 99);
    ::WaitForSingleObject(info_.hProcess, kTimeoutMs);
  }
  if (info_.hThread != nullptr) ::CloseHandle(info_.hThread);
  if (info_.hProcess != nullptr) ::CloseHandle(info_.hProcess);
}

std::optional<DWORD> HostProcess::WaitForExit(DWORD timeout_ms) {
  if (::WaitForSingleObject(info_.hProcess, timeout_ms) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 0;
  ::GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

std::vector<HWND> Windows(DWORD process_id, const wchar_t* window_class) {
  std::vector<HWND> windows;
  HWND window = nullptr;
  while ((window = ::FindWindowExW(nullptr, window, window_class, kTitle)) != nullptr) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == process_id) windows.push_back(window);
  }
  return windows;
}

HWND WaitForWindow(DWORD process_id, const wchar_t* window_class, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  for (;; ::Sleep(10)) {
    const std::vector<HWND> windows = Windows(process_id, window_class);
    if (!windows.empty()) return windows.front();
    if (::GetTickCount64() >= deadline) return nullptr;
  }
}

bool WaitUntilHidden(HWND window, DWORD timeout_ms) {
  const ULONGLONG deadline = ::GetTickCount64() + timeout_ms;
  while (::IsWindowVisible(window)) {
    if (::GetTickCount64() >= deadline) return false;
    ::Sleep(10);
  }
  return true;
}

std::wstring DialogText(HWND dialog) {
  wchar_t text[2048] = L"";
  ::GetDlgItemTextW(dialog, 0xFFFF, text, 2048);
  return text;
}

LRESULT SendToWindow(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  if (!::SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kTimeoutMs,
                             &result)) {
    ADD_FAILURE() << "the window did not answer message " << message;
  }
  return static_cast<LRESULT>(result);
}

std::string Hex(const std::string& bytes) {
  if (bytes.empty()) return "-";
  std::string hex;
  for (unsigned char byte : bytes)
    hex += {"0123456789abcdef"[byte >> 4], "0123456789abcdef"[byte & 15]};
  return hex;
}

ScopedUserDword::ScopedUserDword(const wchar_t* key, const wchar_t* name, DWORD value)
    : key_(key), name_(name) {
  DWORD previous = 0;
  DWORD size = sizeof(previous);
  if (::RegGetValueW(HKEY_CURRENT_USER, key_, name_, RRF_RT_REG_DWORD, nullptr, &previous, &size) ==
      ERROR_SUCCESS)
    previous_ = previous;
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
