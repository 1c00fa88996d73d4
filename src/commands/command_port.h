#pragma once
// What the commands need of the serial port: direct writes, a one-byte read
// of the transceiver's prompt, and a purge. The window hands in its TSerialPort.

#include <cstdint>
#include <stdexcept>
#include <string_view>

class CommandPort {
 public:
  virtual ~CommandPort() = default;
  // True when every byte was written. Raises on a port error.
  virtual bool WriteString(std::string_view bytes) = 0;
  // True when the byte was written. Raises on a port error.
  virtual bool WriteByte(std::uint8_t byte) = 0;
  // Up to `count` bytes into `dest`, waiting at most the port's read time-out;
  // 0 when nothing came.
  virtual int ReadData(char* dest, int count) = 0;
  // Aborts pending transfers and empties both queues.
  virtual void PurgeAll() = 0;
  // Returns once every byte written has left the port (on a slow line that
  // is well after the write returned). Raises on a port error.
  virtual void Drain() = 0;
  // True as soon as a byte waits to be read; false after `timeoutMs`.
  virtual bool WaitForInput(int timeoutMs) = 0;
  // How long the transceiver is given to answer (the port's read time-out).
  virtual int ReadTimeoutMs() const { return 1000; }
};
