#include "standins/transcript.h"

#include <windows.h>

#include <cstddef>
#include <deque>
#include <mutex>

#include "engine_client/codec/hex_digit.h"
#include "win/files.h"
#include "win/scoped_handle.h"

namespace kestro_standin {
namespace {

constexpr size_t kRememberedLines = 200;

std::mutex& WriterMutex() {
  static std::mutex mutex;
  return mutex;
}

std::deque<std::string>& RememberedLines() {
  static std::deque<std::string> lines;
  return lines;
}

std::wstring TranscriptPath() {
  const wchar_t* name = L"KESTRO_STANDIN_TRANSCRIPT";
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size <= 1) return std::wstring();
  std::wstring path(size, L'\0');
  DWORD written = GetEnvironmentVariableW(name, &path[0], size);
  path.resize(written < size ? written : 0);
  return path;
}

void WriteAll(HANDLE target, const std::string& text) {
  if (target == nullptr || target == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(target, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// Opened per line with append-only access: every module appends at the true end of file, and
// a test may delete the file between cases.
bool AppendToFile(const std::wstring& path, const std::string& text) {
  kestro::ScopedHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return false;
  WriteAll(file.Get(), text);
  FlushFileBuffers(file.Get());
  return true;
}

}  // namespace

std::string HexBytes(const uint8_t* bytes, size_t size) {
  if (size == 0) return "-";
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0f];
  }
  return text;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  return HexBytes(bytes.data(), bytes.size());
}

std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text) {
  if (text == "-") return std::vector<uint8_t>();
  if (text.empty() || text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = kestro::HexDigitValue(text[i]);
    int low = kestro::HexDigitValue(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return bytes;
}

void WriteTranscriptLine(std::string_view line) {
  std::string text(line);
  text += '\n';
  std::lock_guard<std::mutex> lock(WriterMutex());
  std::deque<std::string>& remembered = RememberedLines();
  remembered.emplace_back(line);
  if (remembered.size() > kRememberedLines) remembered.pop_front();
  std::wstring path = TranscriptPath();
  if (path.empty() || !AppendToFile(path, text)) {
    // Looked up on every line so the output follows a console the host opens later.
    WriteAll(GetStdHandle(STD_ERROR_HANDLE), text);
  }
}

std::vector<std::string> TranscriptTail(size_t count) {
  std::vector<std::string> lines;
  std::wstring path = TranscriptPath();
  std::optional<std::string> text;
  if (!path.empty()) text = kestro::ReadWholeFile(path);
  if (text) {
    size_t start = 0;
    while (start < text->size()) {
      size_t end = text->find('\n', start);
      if (end == std::string::npos) end = text->size();
      lines.push_back(text->substr(start, end - start));
      start = end + 1;
    }
  } else {
    std::lock_guard<std::mutex> lock(WriterMutex());
    lines.assign(RememberedLines().begin(), RememberedLines().end());
  }
  if (lines.size() > count)
    lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(count));
  return lines;
}

}  // namespace kestro_standin
