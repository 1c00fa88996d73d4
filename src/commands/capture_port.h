#pragma once
// A command port that keeps each frame written instead of sending it:
// `velrpt-cli frame` prints them, and checks read them back.

#include <string>
#include <vector>

#include "command_port.h"

class CapturePort : public CommandPort {
 public:
  bool WriteString(std::string_view bytes) override {
    frames.emplace_back(bytes);
    return true;
  }
  bool WriteByte(std::uint8_t) override { return true; }
  int ReadData(char*, int) override { return 0; }
  void PurgeAll() override {}
  void Drain() override {}
  bool WaitForInput(int) override { return false; }
  std::vector<std::string> frames;
};
