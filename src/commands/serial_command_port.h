#pragma once
// The commands' port over the window's serial component (TSerialPort). A
// template, so the commands library needs nothing of the serial library and
// the dependency graph stays as it is: whoever owns both instantiates it.

#include "command_port.h"

template <class SerialPort>
class SerialCommandPort : public CommandPort {
 public:
  explicit SerialCommandPort(SerialPort& port) : m_port(port) {}

  bool WriteString(std::string_view bytes) override { return m_port.WriteString(bytes); }
  bool WriteByte(std::uint8_t byte) override { return m_port.WriteByte(byte); }
  int ReadData(char* dest, int count) override { return m_port.ReadData(dest, count); }
  void PurgeAll() override { m_port.PurgeAll(); }
  void Drain() override { m_port.Drain(); }
  bool WaitForInput(int timeoutMs) override { return m_port.WaitForInput(timeoutMs); }
  int ReadTimeoutMs() const override { return m_port.Buffers().ReadTimeout(); }

 private:
  SerialPort& m_port;
};
