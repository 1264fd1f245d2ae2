#pragma once
// The interactive command window's exchange of text lines with the device on the shared serial
// port, and the rules by which its log shows them. The window only moves values: it reads its
// fields, calls these functions and writes the results into its grid.
//
// One exchange: the typed line goes out as GBK bytes followed by CR; then whatever comes back is
// collected until the line has been silent for more than a second, bounded by the delay in
// seconds. A device that first answers "Please wait....." gets the delay once more, counted from
// the end of a one-second pause. The answer is shown decoded from GBK; bytes that are not GBK
// text are shown as \xNN.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TTransport;
class TChannel;

// Result codes of one exchange.
enum TTextResult : int {
  trOk = 0,           // one or more bytes were collected
  trPortClosed = 1,   // the port is not open (or failed during the exchange)
  trTimeout = 2,      // no answer, or one that kept coming, within the delay
  trInterrupted = 3,  // the user pressed interrupt
  trBusy = 4,         // the channel has a frame queued or in flight; nothing was sent
  trNotGbk = 5,       // the command holds a character GBK cannot encode; nothing was sent
};

struct TTextReply {
  int Code = trOk;
  std::string Reply;  // the answer as display text (UTF-8); filled only with trOk
  std::string Error;  // the error text; empty with trOk
  bool Cut = false;   // the answer was longer than the collection buffer and was cut there
  // What the received row shows: the error text, otherwise the reply, followed by a line saying
  // the answer was cut when it was.
  std::string Content() const;
};

// What one exchange works with. Port may be null (then the port counts as closed); Channel may be
// null (then nothing is checked or locked). ProcessMessages, when set, runs between the passes of
// the wait so that the window repaints and its interrupt button works.
struct TTextLine {
  TTransport* Port = nullptr;
  TChannel* Channel = nullptr;
  std::atomic<bool>* Interrupted = nullptr;
  std::function<void()> ProcessMessages;
};

namespace CommandExchange {
inline constexpr int Capacity = 8192;       // bytes of one answer that are collected
inline constexpr int SilenceMs = 1000;      // an answer is complete after this much silence
inline constexpr int PassMs = 20;           // upper bound of one wait between passes
inline constexpr int PleaseWaitPauseMs = 1000;

// The text sent for a command field: its blanks around removed, followed by one CR.
std::string CommandLine(const std::string& field);
// Sends `line` (UTF-8, usually from CommandLine) and collects the answer; see the header comment.
// The channel's exchange lock is held from the first check to the end, so the sending thread
// cannot start an exchange meanwhile.
TTextReply SendAndWait(const TTextLine& port, const std::string& line, int delaySeconds);

// Bytes received, as display text: GBK decoded to UTF-8; CR, LF and TAB kept; other control
// bytes and bytes that are not valid GBK shown as \xNN.
std::string BytesToDisplay(const uint8_t* data, std::size_t count);

// The rows of one log entry: the content with blanks (bytes up to the space, CR and LF included)
// removed around it, split at each CR LF. Pieces before a CR LF are kept as they are (an empty
// piece is an empty row); the piece after the last CR LF is a row only when it is not blank, and
// is trimmed. A lone CR or LF does not split.
std::vector<std::string> LogLines(const std::string& content);

// Blanks (bytes up to and including the space) removed at both ends.
std::string TrimBlanks(const std::string& text);
}  // namespace CommandExchange
