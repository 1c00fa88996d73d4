#pragma once
// What one open TSerialPort shares with its threads, and the threads
// themselves: the event thread waits for line events and hands each one over
// to the owner's thread; in buffered mode the write thread empties the
// output buffer. Only the serial port's own files include this.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "serial_backend.h"

class TCustomSerialPort;

// One event handed to the owner's thread; the event thread waits on `done`.
struct HandoverRequest {
  uint32_t events = 0;
  bool lost = false;
  bool done = false;
  int unread = 0;  // announced bytes the handler left in the queue
};

// Everything the threads of one open session touch. The threads own it
// together with the component, so a Close that does not wait for them never
// frees what they still use.
struct SerialSession {
  TCustomSerialPort* owner = nullptr;  // dereferenced on the owner's thread only
  uint32_t mask = 0;
  // The open device, shared with the component: whoever lets go last
  // closes it.
  std::shared_ptr<SerialBackend> device;
  std::atomic<bool> txPending{false};
  // Threads that have not yet left; each one's last touch of the device comes
  // before its count goes.
  std::atomic<int> running{0};
  // Line errors the event thread took from the device and announced, for
  // the owner's ReadErrors.
  std::atomic<uint32_t> lineErrors{0};

  std::mutex mutex;  // guards everything below
  std::condition_variable handoverCv;
  std::condition_variable bufferCv;
  bool stop = false;
  std::string buffer;  // buffered write mode
  std::size_t capacity = 0;
  uint64_t generation = 0;  // bumped by a purge: a write in flight is dropped
  std::deque<std::shared_ptr<HandoverRequest>> pending;

  // Marks the threads stopped and wakes them; never waits for them.
  void Stop();
  bool Stopped() {
    std::lock_guard lock(mutex);
    return stop;
  }
};

// The threads' bodies. Each keeps the session alive until it returns.
void RunEventThread(std::shared_ptr<SerialSession> s);
void RunWriteThread(std::shared_ptr<SerialSession> s);
