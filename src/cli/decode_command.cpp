// velrpt-cli decode: a recorded serial byte stream through exactly the
// receive path of the window. Each read() of the input is one receive event.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli_commands.h"
#include "decode_session.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Hexadecimal text to bytes, across reads: a pair may be split between two.
class HexReader {
 public:
  // False on a character that is neither a hex digit nor white space, or a
  // pair split by white space.
  bool Convert(std::string_view text, std::string& out) {
    for (char c : text) {
      if (IsBlank(c)) {
        if (m_pending >= 0) return false;
        continue;
      }
      const int d = HexDigit(c);
      if (d < 0) return false;
      if (m_pending < 0) {
        m_pending = d;
      } else {
        out.push_back(static_cast<char>(m_pending * 16 + d));
        m_pending = -1;
      }
    }
    return true;
  }
  bool Complete() const { return m_pending < 0; }

 private:
  int m_pending = -1;
};

}  // namespace

const char* DecodeHelp() {
  static const std::string text =
      std::string(
          "usage: velrpt-cli decode [OPTIONS] [FILE]\n"
          "Runs a recorded serial byte stream (raw bytes from FILE, or standard input\n"
          "when FILE is absent or -) through the program's receive path and prints\n"
          "every line the log window would receive. Each read of the input is one\n"
          "receive event.\n\n"
          "  --hex                the input is hexadecimal text (pairs of digits, any\n"
          "                       white space between them)\n") +
      kDecodeOptionsHelp +
      "\nExit status: 0 done, 2 bad input (unreadable file, bad hex text, unknown option).\n";
  return text.c_str();
}

int RunDecode(const CliArgs& args) {
  DecodeSessionOptions options;
  bool hex = false;
  std::string file;
  bool haveFile = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string error;
    if (ParseDecodeOption(args, i, options, error)) {
      if (!error.empty()) return CliError(error);
      continue;
    }
    const std::string& a = args[i];
    if (a == "--hex") {
      hex = true;
    } else if (a.size() > 1 && a[0] == '-' && a != "-") {
      return CliError("unknown option '" + a + "'");
    } else if (!haveFile) {
      file = a;
      haveFile = true;
    } else {
      return CliError("only one input file, not '" + a + "'");
    }
  }

  int fd = STDIN_FILENO;
  if (haveFile && file != "-") {
    fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return CliError("cannot read '" + file + "': " + std::strerror(errno));
  }

  StreamLogSink out(stdout, false);
  DecodeSession session(options, out);
  HexReader hexReader;
  char buffer[65536];
  std::string bytes;
  int status = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      status = CliError("cannot read '" + (haveFile ? file : std::string("standard input")) +
                        "': " + std::strerror(errno));
      break;
    }
    if (n == 0) break;
    const std::string_view chunk(buffer, static_cast<size_t>(n));
    if (hex) {
      bytes.clear();
      if (!hexReader.Convert(chunk, bytes)) {
        status = CliError("bad hexadecimal text in the input");
        break;
      }
      if (!bytes.empty()) session.Receive(bytes);
    } else {
      session.Receive(chunk);
    }
  }
  if (status == 0 && hex && !hexReader.Complete())
    status = CliError("bad hexadecimal text: a lone digit at the end");
  if (fd != STDIN_FILENO) ::close(fd);
  std::fflush(stdout);
  const int finish = session.Finish();
  return status ? status : finish;
}
