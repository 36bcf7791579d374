// The application script: the stand-in engine's "application" is a UTF-8 text file whose lines
// are commands, played on the UI thread one line at a time once the first frame is shown.
// Numbers are decimal, or hexadecimal with 0x; window messages are written in the transcript as
// 0x and four hex digits. crash, crash-thread, abort-thread, watch, claim and dpi-changed write
// their own line (name and operands) to the transcript as they run (dpi-changed once the host has
// handled the message), so a test knows when they took effect.
#ifndef KESTRO_STANDINS_ENGINE_SCRIPT_H_
#define KESTRO_STANDINS_ENGINE_SCRIPT_H_

#include <stdint.h>

#include <string>
#include <string_view>
#include <vector>

namespace kestro_standin {

// One script line, parsed. Blank lines and lines starting with '#' parse as kNothing; a token
// starting with '#' ends the line, so commands may carry trailing comments.
struct ScriptCommand {
  enum class Kind {
    kNothing,
    kInvalid,      // unknown command or bad operands
    kSend,         // send <channel> <hex>: deliver the bytes to the host's channel callback
    kClose,        // close: post WM_CLOSE to the top-level window
    kCrash,        // crash: access violation on the UI thread inside an engine callback
    kCrashThread,  // crash-thread: access violation on a thread of the engine's own
    kAbortThread,  // abort-thread: abort() on a thread of the engine's own, as an exception that
                   // escapes a thread ends where terminate handlers are kept per thread (MSVC)
    kWait,         // wait <milliseconds>: pause the script, the message loop keeps running
    kPost,         // post <message> [wparam] [lparam]: post a message to the top-level window
    kRefuseView,   // refuse-view: FlutterDesktopViewControllerCreate fails for this engine
    kWatch,        // watch <message>: write "offered <message>" whenever the host offers it
    kClaim,        // claim <message> <result>: handle it from now on, answering result, and
                   // write "claimed <message> <result>" each time
    kDpiChanged,   // dpi-changed <dpi> <left> <top> <right> <bottom>: send WM_DPICHANGED to the
                   // top-level window with that suggested rectangle
    // send-async <channel> <hex>: deliver and go on; the reply is owed until await-replies.
    kSendAsync,
    // await-replies: wait for every reply still owed, as send waits for its own.
    kAwaitReplies,
    // reply-timeout <milliseconds>: how long send and await-replies wait (numbers[0]).
    kReplyTimeout,
    // send-unreadable <channel> <hex>: as send-async, but the message's bytes cannot be read, so
    // the host's channel callback crashes on the UI thread; the next line is posted first.
    kSendUnreadable,
  };
  Kind kind = Kind::kNothing;
  std::string channel;
  std::vector<uint8_t> bytes;
  // wait: milliseconds; post: message, wparam, lparam; watch: message; claim: message, result;
  // dpi-changed: dpi, left, top, right, bottom.
  uint64_t numbers[5] = {0, 0, 0, 0, 0};
};

ScriptCommand ParseScriptLine(std::string_view line);

// The script's lines without line ends; a leading UTF-8 byte-order mark is dropped.
std::vector<std::string> SplitScript(std::string_view text);

}  // namespace kestro_standin

#endif  // KESTRO_STANDINS_ENGINE_SCRIPT_H_
