#pragma once
// The input of `decode` and `survey`: a recorded byte stream from a file or
// standard input, raw or as hexadecimal text, handed on piece by piece.

#include <functional>
#include <string>
#include <string_view>

struct CaptureInput {
  std::string file;       // "-": standard input
  bool haveFile = false;  // else standard input
  bool hex = false;       // the input is hexadecimal text
};

// Reads the whole input and calls `receive` once per piece read, each one
// receive event. A file goes through the programs' one reader (a regular
// file only, streamed, no size cap). Returns 0, or 2 after a one-line error
// on standard error (unreadable input, bad hex text).
int ReadCapture(const CaptureInput& input, const std::function<void(std::string_view)>& receive);
