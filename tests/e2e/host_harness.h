// Runs kestro_pos.exe for end-to-end tests: a private run folder with the executable, the
// stand-in libraries and a data bundle whose app.so is the test's script; the child's exit
// code, standard error and transcript; and the windows and dialogs it shows.
#ifndef KESTRO_TESTS_E2E_HOST_HARNESS_H_
#define KESTRO_TESTS_E2E_HOST_HARNESS_H_

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace kestro_e2e {

constexpr wchar_t kTitle[] = L"Kestro POS";
constexpr wchar_t kWindowClass[] = L"FLUTTER_RUNNER_WIN32_WINDOW";
constexpr DWORD kTimeoutMs = 20000;

// The folder of this test executable, beside kestro_pos.exe, its twin and the DLLs.
std::wstring BinaryFolder();
// The file's bytes; empty when it does not exist (yet).
std::string ReadFile(const std::wstring& path);
// The file's lines without line ends.
std::vector<std::string> ReadLines(const std::wstring& path);

// A fresh folder under the temporary directory holding kestro_pos.exe, the engine and plug-in
// libraries copied from beside this test, and (unless told otherwise) the data bundle. On
// destruction the test fails for every "fault" line in the transcript (a call a real engine library
// might crash on), and the folder is removed.
class RunFolder {
 public:
  explicit RunFolder(const std::string& script, bool with_bundle = true);
  ~RunFolder();
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  const std::wstring& path() const { return path_; }
  std::wstring executable() const { return path_ + L"\\" + executable_name_; }

  // Puts the test-only dwmapi.dll beside the executable, which Wine then loads instead of its
  // own; it writes each DwmSetWindowAttribute call to the file "dwmapi.txt" of the folder.
  void AddFakeDwmapi();

  // Transcript lines without their " # " comments; empty when no transcript was written.
  std::vector<std::string> Transcript() const;
  // The lines after the first one equal to `line`; empty when there is none.
  std::vector<std::string> TranscriptAfter(const std::string& line) const;
  // Polls until the transcript holds `line`; false on time-out.
  bool WaitForTranscriptLine(const std::string& line) const;

  // Runs this executable from beside this test instead.
  void UseExecutable(const std::wstring& name);
  // Runs kestro_pos_simulated.exe instead, in the Bluetooth world `world`: the text of its
  // simulated_bluetooth.txt.
  void UseSimulatedBluetooth(const std::string& world);
  // Every byte the simulated printer accepted, from printers/<12 hex digits>.bin.
  std::string PrinterBytes(const std::string& address_digits) const;

 private:
  std::wstring path_;
  std::wstring executable_name_ = L"kestro_pos.exe";
};

// One kestro_pos.exe process started in a run folder with `arguments` after the program name.
// Its standard error goes to the file "stderr.txt" of the folder; the process is killed if still
// running at destruction.
class HostProcess {
 public:
  HostProcess(const RunFolder& folder, const std::wstring& arguments = L"");
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // The exit code, or nothing when the process is still running after `timeout_ms`.
  std::optional<DWORD> WaitForExit(DWORD timeout_ms = kTimeoutMs);
  // The lines written to standard error; call after the process has exited.
  std::vector<std::string> StandardErrorLines() const { return ReadLines(stderr_path_); }

  DWORD process_id() const { return info_.dwProcessId; }
  HANDLE main_thread() const { return info_.hThread; }

 private:
  std::wstring stderr_path_;
  PROCESS_INFORMATION info_{};
};

// The top-level windows of `process_id` with this class and title now.
std::vector<HWND> Windows(DWORD process_id, const wchar_t* window_class = kWindowClass);
// The first top-level window of `process_id` with this class and title, polled for until found
// or `timeout_ms` passed (0: one look); null when there is none.
HWND WaitForWindow(DWORD process_id, const wchar_t* window_class = kWindowClass,
                   DWORD timeout_ms = kTimeoutMs);
// Polls until the window is hidden; false when it still shows after `timeout_ms`.
bool WaitUntilHidden(HWND window, DWORD timeout_ms = 5000);
// The whole text of a message box.
std::wstring DialogText(HWND dialog);

// Sends from this process, as the system or another program would, and returns the answer; the
// test fails when the window's thread does not answer in time.
LRESULT SendToWindow(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0);

// Lower-case unseparated hex of UTF-8 bytes, as the transcript writes them ("-" when empty).
std::string Hex(const std::string& bytes);

// Sets a DWORD value under HKEY_CURRENT_USER, and restores the previous state (a value or
// none) on destruction.
class ScopedUserDword {
 public:
  ScopedUserDword(const wchar_t* key, const wchar_t* name, DWORD value);
  ~ScopedUserDword();
  ScopedUserDword(const ScopedUserDword&) = delete;
  ScopedUserDword& operator=(const ScopedUserDword&) = delete;

  void Set(DWORD value);

 private:
  const wchar_t* key_;
  const wchar_t* name_;
  std::optional<DWORD> previous_;
};

}  // namespace kestro_e2e

#endif  // KESTRO_TESTS_E2E_HOST_HARNESS_H_
