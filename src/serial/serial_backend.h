#pragma once
// One open serial device behind the same operations on every system, in the
// manner of a port library's back ends: the system's implementation is
// chosen by file suffix (serial_backend_unix.cpp, serial_backend_win.cpp). Event bits and line error
// flags are those of serial_types.h (EV_RXCHAR, CE_FRAME, ...); error codes
// are the system's own, with text from SerialErrorText.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "serial_device.h"  // LineConfig

class SerialBackend {
 public:
  enum class WaitResult { Events, Woken, TimedOut, Lost };

  virtual ~SerialBackend() = default;

  // Opens `path` for reading and writing, exclusively, only if it exists.
  // Null on failure, with the system's code and whether the device does not
  // exist at all (the "not found" message rather than "can't open").
  static std::unique_ptr<SerialBackend> Open(const std::string& path, int& error, bool& notFound);

  // Raw 8-bit line with these settings; queue sizes as requested. 0 or the
  // system's code of the refusal.
  virtual int Apply(const LineConfig& config, int inQueue, int outQueue) = 0;
  // The speed the driver actually runs (some round a rate to their own).
  virtual int ReadBackBaudrate(int& baud) = 0;
  // Selects the line events WaitEvents reports (EV_* bits).
  virtual int SetEventMask(uint32_t mask) = 0;

  // Takes what waits in the input queue, at most `size` bytes; never blocks.
  // Bytes read, or -1 with `error`.
  virtual long long Read(char* buffer, size_t size, int& error) = 0;
  // Writes, waiting at most `deadlineMs` for the driver to take the bytes.
  // Bytes taken (fewer when the deadline passed), or -1 with `error`. Nothing
  // of the transfer outlives the call.
  virtual long long Write(const char* data, size_t size, int deadlineMs, int& error) = 0;
  // Bytes in the input and output queues; 0 or the system's code.
  virtual int QueueCounts(int& in, int& out) = 0;
  // Discards the queued bytes of each direction asked for.
  virtual int Flush(bool input, bool output) = 0;
  // Waits until the output queue has left, at most `deadlineMs` (negative:
  // without limit); 0 when it has.
  virtual int Drain(int deadlineMs) = 0;

  // Waits at most `timeoutMs` (negative: without limit) for a selected line
  // event, a Wake, or the loss of the device.
  virtual WaitResult WaitEvents(int timeoutMs, uint32_t& events) = 0;
  // Ends a WaitEvents in progress (or the next one) at once; any thread.
  virtual void Wake() = 0;
  // CE_* flags of the line errors since the last call.
  virtual uint32_t TakeLineErrors() = 0;

  // Whether the line runs as asked after Apply: "" when it does, otherwise
  // the log line that says how it runs instead (`shownPath` names the
  // device in it). 0 or the system's code of a failed read-back. This one
  // looks at the speed only, for devices that report nothing else.
  virtual int CheckLineTaken(const std::string& shownPath, const LineConfig& asked, std::string& notTaken);
  // True when the device has gone: `error` is the code of a call that
  // failed, or 0 to ask the device itself.
  virtual bool HungUp(int error) {
    (void)error;
    return false;
  }
  // Waits at most `timeoutMs` until a byte waits in the input queue. Never
  // used while WaitEvents runs on another thread of the same device: the
  // program's own calls and its event thread do not wait at once. False on
  // time-out, and with `lost` set when the device went away meanwhile.
  // This one looks at the queue every few milliseconds.
  virtual bool WaitReadable(int timeoutMs, bool& lost);
  // Gives up the exclusive claim ahead of the destruction, so the device
  // opens again at once although a thread still holds this object.
  virtual void Release() {}
};

// Devices of the program's own that open by name like a port (the simulated
// Korvex inside the process). OpenSerialBackend tries a registered name
// before the system; a factory says why it could not open, as Open does.
using SerialBackendFactory = std::function<std::unique_ptr<SerialBackend>(int& error, bool& notFound)>;
void RegisterSerialBackend(const std::string& name, SerialBackendFactory factory);
void UnregisterSerialBackend(const std::string& name);
// The registered device of that name, else SerialBackend::Open.
std::unique_ptr<SerialBackend> OpenSerialBackend(const std::string& path, int& error, bool& notFound);
// Whether `name` is a registered device (a port name that stands as it is).
bool SerialBackendRegistered(const std::string& name);
// For a registered device, whether it is there now: it opens, or is busy
// (the open is closed at once). Nothing for any other name.
std::optional<bool> RegisteredDevicePresent(const std::string& name);

// The system's text for one of its error codes, without trailing blanks,
// line breaks and full stop.
std::string SerialErrorText(int error);
