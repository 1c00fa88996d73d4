#pragma once
// The line between the simulated Korvex and the program: a pseudo-terminal
// whose slave the program opens like a port (sim_pty_line_unix.cpp), or
// byte queues inside this process behind the serial device interface
// (in_process_korvex.cpp). The runner's thread makes every call but Wake,
// with its lock held, except Wait, which it makes with the lock released.

#include <cstddef>
#include <memory>
#include <string>

#include "wmbus_codec.h"

namespace sim {

struct SimOptions;

class SimLine {
 public:
  // One wait of the runner's loop: what it can take, and what came.
  struct Turn {
    bool listen = false;      // the device is on a working line: wait for the program and for room
    size_t room = 0;          // take at most about this many of the program's bytes
    bool wantRoom = false;    // the last Send found the line full
    Bytes in;                 // the program's bytes that came
    bool hungUp = false;      // the line reports a hang-up
    bool flushedOut = false;  // the program discarded its output: what is still on the line goes too
  };

  virtual ~SimLine() = default;

  // The device is put on the line (at the start and when it is put back):
  // a fresh line the program can open. False with a reason.
  virtual bool Plug(std::string* error) = 0;
  // The device is pulled out: the program's side fails as a lost device does.
  virtual void Unplug() = 0;
  // The name the program opens.
  virtual std::string Path() const = 0;

  // Bytes towards the program: how many the line took (0: it is full for
  // now), or -1 when it failed, with the reason.
  virtual long long Send(const char* data, size_t size, std::string& error) = 0;
  // Bytes sent that the program has not read yet.
  virtual size_t Unread() const = 0;
  // Bytes the program wrote that are still on their way to the Korvex over
  // a paced line (the engine holds them).
  virtual void OnTheLine(size_t) {}

  // Waits at most `timeoutMs` (negative: without limit) for the program's
  // bytes, room on the line or Wake. False when waiting itself failed.
  virtual bool Wait(int timeoutMs, Turn& turn) = 0;
  // After a hang-up: whether the line still reports one.
  virtual bool StillHungUp() { return true; }
  // Ends a Wait in progress (or the next one) at once; any thread.
  virtual void Wake() = 0;
};

#ifndef _WIN32
// The pseudo-terminal line (with the symbolic link of options.linkPath).
std::unique_ptr<SimLine> MakePtyLine(const SimOptions& options);
#endif

}  // namespace sim
