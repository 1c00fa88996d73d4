// Pulling the simulated device out and putting it back, asked of the
// running thread, which owns the line.

#include "sim_engine.h"

namespace sim {

bool SimulatorRunner::PlugIn(std::string* error) {
  Engine& e = *m_engine;
  if (!m_line->Plug(error)) return false;
  e.plugged = true;
  e.hung = false;
  e.lineFreeAtUs = 0;
  return true;
}

void SimulatorRunner::PullOut() {
  Engine& e = *m_engine;
  m_line->Unplug();
  e.plugged = false;
  e.hung = false;
  e.DiscardOutput("device pulled out");
  e.held.clear();
  e.inFlight.clear();
  m_line->OnTheLine(0);
}

void SimulatorRunner::DoUnplug() {
  if (!m_engine->plugged) return;
  PullOut();
  m_engine->korvex = KorvexTransceiver{};
  m_engine->Log("device pulled out");
}

bool SimulatorRunner::DoReplug(std::string* error) {
  if (m_engine->plugged) return true;
  if (!PlugIn(error)) return false;
  m_engine->nextBurstMs = m_engine->NowMs();
  m_engine->Log("device put back on " + m_line->Path());
  return true;
}

// The line belongs to the thread while it runs (it may be waiting on it
// right now), so the change is made there and waited for here.
bool SimulatorRunner::Request(int kind, std::string* error) {
  std::unique_lock lock(m_mutex);
  if (!m_engine) {
    if (error) *error = "simulator not started";
    return false;
  }
  if (!m_running) return kind == kUnplug ? (DoUnplug(), true) : DoReplug(error);
  m_request = kind;
  const std::uint64_t ticket = ++m_requestTicket;
  Wake();
  m_changed.wait(lock, [&] { return m_requestDone >= ticket || !m_running; });
  if (m_requestDone < ticket) {
    if (error) *error = "simulator stopped";
    return false;
  }
  if (!m_requestOk && error) *error = m_requestError;
  return m_requestOk;
}

void SimulatorRunner::ServeRequest() {
  if (m_request == 0) return;
  m_requestError.clear();
  m_requestOk = m_request == kUnplug ? (DoUnplug(), true) : DoReplug(&m_requestError);
  m_request = 0;
  m_requestDone = m_requestTicket;
  m_changed.notify_all();
}

void SimulatorRunner::Unplug() { Request(kUnplug, nullptr); }

bool SimulatorRunner::Replug(std::string* error) { return Request(kReplug, error); }

}  // namespace sim
