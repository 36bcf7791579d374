#include "standins/engine/script.h"

#include <cerrno>
#include <cstdlib>
#include <optional>

#include "standins/transcript.h"

namespace kestro_standin {
namespace {

std::vector<std::string> Tokens(std::string_view line) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i == start) break;
    if (line[start] == '#') break;
    tokens.emplace_back(line.substr(start, i - start));
  }
  return tokens;
}

// Decimal, or hexadecimal with 0x: window messages read better in hex.
std::optional<uint64_t> ParseNumber(const std::string& token) {
  if (token.empty() || token[0] == '-' || token[0] == '+') return std::nullopt;
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(token.c_str(), &end, 0);
  if (errno != 0 || end != token.c_str() + token.size()) return std::nullopt;
  return static_cast<uint64_t>(value);
}

ScriptCommand Invalid() {
  ScriptCommand command;
  command.kind = ScriptCommand::Kind::kInvalid;
  return command;
}

ScriptCommand ParseSend(const std::vector<std::string>& tokens,
                        ScriptCommand::Kind kind = ScriptCommand::Kind::kSend) {
  if (tokens.size() < 3) return Invalid();
  // The hex may be split into groups for readability.
  std::string hex;
  for (size_t i = 2; i < tokens.size(); ++i) hex += tokens[i];
  std::optional<std::vector<uint8_t>> bytes = ParseHexBytes(hex);
  if (!bytes) return Invalid();
  ScriptCommand command;
  command.kind = kind;
  command.channel = tokens[1];
  command.bytes = std::move(*bytes);
  return command;
}

ScriptCommand ParseNumbers(ScriptCommand::Kind kind, const std::vector<std::string>& tokens,
                           size_t required, size_t allowed) {
  size_t operands = tokens.size() - 1;
  if (operands < required || operands > allowed) return Invalid();
  ScriptCommand command;
  command.kind = kind;
  for (size_t i = 0; i < operands; ++i) {
    std::optional<uint64_t> number = ParseNumber(tokens[i + 1]);
    if (!number) return Invalid();
    command.numbers[i] = *number;
  }
  return command;
}

ScriptCommand Bare(ScriptCommand::Kind kind, const std::vector<std::string>& tokens) {
  if (tokens.size() != 1) return Invalid();
  ScriptCommand command;
  command.kind = kind;
  return command;
}

}  // namespace

ScriptCommand ParseScriptLine(std::string_view line) {
  std::vector<std::string> tokens = Tokens(line);
  if (tokens.empty()) return ScriptCommand();
  const std::string& name = tokens[0];
  if (name == "send") return ParseSend(tokens);
  if (name == "send-async") return ParseSend(tokens, ScriptCommand::Kind::kSendAsync);
  if (name == "send-unreadable") return ParseSend(tokens, ScriptCommand::Kind::kSendUnreadable);
  if (name == "await-replies") return Bare(ScriptCommand::Kind::kAwaitReplies, tokens);
  if (name == "reply-timeout")
    return ParseNumbers(ScriptCommand::Kind::kReplyTimeout, tokens, 1, 1);
  if (name == "close") return Bare(ScriptCommand::Kind::kClose, tokens);
  if (name == "crash") return Bare(ScriptCommand::Kind::kCrash, tokens);
  if (name == "crash-thread") return Bare(ScriptCommand::Kind::kCrashThread, tokens);
  if (name == "abort-thread") return Bare(ScriptCommand::Kind::kAbortThread, tokens);
  if (name == "refuse-view") return Bare(ScriptCommand::Kind::kRefuseView, tokens);
  if (name == "wait") return ParseNumbers(ScriptCommand::Kind::kWait, tokens, 1, 1);
  if (name == "post") return ParseNumbers(ScriptCommand::Kind::kPost, tokens, 1, 3);
  if (name == "watch") return ParseNumbers(ScriptCommand::Kind::kWatch, tokens, 1, 1);
  if (name == "claim") return ParseNumbers(ScriptCommand::Kind::kClaim, tokens, 2, 2);
  if (name == "dpi-changed") return ParseNumbers(ScriptCommand::Kind::kDpiChanged, tokens, 5, 5);
  return Invalid();
}

std::vector<std::string> SplitScript(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace kestro_standin
