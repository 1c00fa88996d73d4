#include "sim_engine.h"

#include <algorithm>

namespace sim {

void SimulatorRunner::Engine::Queue(const std::vector<Piece>& pieces, std::int64_t now, bool prompt) {
  for (const Piece& p : pieces) {
    const std::int64_t at = std::max(now, lastQueuedAt) + p.delayMs;
    lastQueuedAt = at;
    outBytes += p.bytes.size();
    out.push_back({at, p.bytes, 0, prompt});
  }
}

void SimulatorRunner::Engine::DiscardOutput(const char* why, bool keepStarted) {
  std::deque<OutPiece> kept;
  size_t keptBytes = 0;
  if (keepStarted && !out.empty() && out.front().sent > 0) {
    keptBytes = out.front().bytes.size() - out.front().sent;
    kept.push_back(std::move(out.front()));
  }
  if (outBytes > keptBytes)
    Log(std::string("discarded ") + std::to_string(outBytes - keptBytes) + " queued bytes (" + why + ")");
  out = std::move(kept);
  outBytes = keptBytes;
}

void SimulatorRunner::Engine::Arrive(const Bytes& bytes, std::int64_t now) {
  if (options.baud <= 0) {
    Input(bytes, now);
    return;
  }
  if (inFlight.empty()) inFirstDoneUs = std::max(now * 1000, inLastDoneUs) + ByteUs();
  inFlight += bytes;
}

void SimulatorRunner::Engine::DeliverArrived(std::int64_t now) {
  if (inFlight.empty()) return;
  const std::int64_t nowUs = now * 1000;
  if (nowUs < inFirstDoneUs) return;
  const size_t n = std::min(inFlight.size(), static_cast<size_t>((nowUs - inFirstDoneUs) / ByteUs()) + 1);
  const Bytes in = inFlight.substr(0, n);
  inFlight.erase(0, n);
  inLastDoneUs = inFirstDoneUs + static_cast<std::int64_t>(n - 1) * ByteUs();
  inFirstDoneUs = inLastDoneUs + ByteUs();
  Input(in, now);
}

void SimulatorRunner::Engine::Generate(std::int64_t now) {
  if (!plugged || sourceDone) return;
  while (now >= nextBurstMs && outBytes < kOutCap && events.size() < kMaxEvents && !sourceDone) {
    if (replay) {
      if (replayNext >= replayUnits.size()) {
        sourceDone = true;
        break;
      }
      events.emplace(nextBurstMs, Event{Kind::Replay, replayUnits[replayNext++]});
      nextBurstMs += options.intervalMs;
    } else {
      const Burst b = traffic.Next(repeater.Repeating(LocalSeconds(now)));
      events.emplace(nextBurstMs, Event{Kind::Traffic, b.direct});
      // Flat out (interval 0) the repeater's copy follows straight on, so
      // that a --count run carries both copies of each telegram.
      const int delay = options.intervalMs == 0 ? 0 : b.repeatDelayMs;
      if (!b.repeated.empty()) events.emplace(nextBurstMs + delay, Event{Kind::Traffic, b.repeated});
      nextBurstMs += b.gapMs;
    }
    // A reader that stalled for long gets no flood of old traffic when it comes back.
    if (nextBurstMs < now - 1000) nextBurstMs = now;
  }
}

void SimulatorRunner::Engine::MoveDueEvents(std::int64_t now) {
  if (!held.empty() && plugged && !TrafficHeld()) {
    for (const Event& h : held) {
      Queue(faults.Apply(h.frame), now);
      ++stats.framesSent;
      ++stats.answers;
    }
    held.clear();
  }
  while (!events.empty() && events.begin()->first <= now) {
    Event e = std::move(events.begin()->second);
    events.erase(events.begin());
    if (e.kind == Kind::Traffic && sourceDone) continue;
    // A pulled-out device sends nothing. In configuration mode the Korvex
    // forwards no radio traffic: the PC reads prompts then. A repeater
    // answer is held back until the mode ends rather than lost.
    if (!plugged) {
      ++stats.dropped;
      continue;
    }
    if (TrafficHeld()) {
      if (e.kind == Kind::Answer) {
        held.push_back(std::move(e));
      } else {
        ++stats.dropped;
      }
      continue;
    }
    Queue(faults.Apply(e.frame, e.kind != Kind::Replay), now);
    ++stats.framesSent;
    if (e.kind == Kind::Answer) ++stats.answers;
    if (e.kind == Kind::Traffic) {
      ++stats.telegramsSent;
      if (options.count > 0 && stats.telegramsSent >= static_cast<std::uint64_t>(options.count)) {
        sourceDone = true;
        Log("sent " + std::to_string(stats.telegramsSent) + " telegrams, --count reached");
      }
    }
  }
}

void SimulatorRunner::Engine::WriteOut(std::int64_t now) {
  blockedOut = false;
  while (plugged && !hung && !out.empty() && out.front().atMs <= now) {
    OutPiece& piece = out.front();
    const std::int64_t nowUs = now * 1000;
    size_t n = piece.bytes.size() - piece.sent;
    if (options.baud > 0) {
      if (nowUs < lineFreeAtUs) break;
      // About 5 ms of line time per write keeps the pace without a wake-up per byte.
      const size_t perWrite = std::max<size_t>(1, static_cast<size_t>(options.baud) / 2000);
      n = std::min(n, perWrite);
    }
    std::string error;
    // An empty piece (nothing around the repeater to hear) just leaves the queue.
    const long long w = n == 0 ? 0 : line->Send(piece.bytes.data() + piece.sent, n, error);
    if (w < 0) {
      hung = true;
      Log("line write failed: " + error);
      break;
    }
    if (w == 0 && n > 0) {
      blockedOut = true;
      break;
    }
    const size_t written = static_cast<size_t>(w);
    if (record) std::fwrite(piece.bytes.data() + piece.sent, 1, written, record);
    stats.bytesSent += written;
    outBytes -= written;
    if (options.baud > 0)
      lineFreeAtUs =
          std::max(lineFreeAtUs, nowUs) + static_cast<std::int64_t>(written) * 10'000'000 / options.baud;
    // An offset rather than erasing the front: a paced line writes a
    // frame in several pieces and would move the rest each time.
    piece.sent += written;
    if (piece.sent == piece.bytes.size()) {
      if (options.pieceWritten) options.pieceWritten(piece.bytes);
      // The Korvex waits for the next step from its prompt on, not from the request.
      if (piece.prompt) lastInputMs = std::max(lastInputMs, now);
      out.pop_front();
    }
  }
  if (record) std::fflush(record);
}

void SimulatorRunner::Engine::Input(const Bytes& bytes, std::int64_t now) {
  stats.bytesReceived += bytes.size();
  lastInputMs = now;
  const auto result = korvex.Feed(bytes);
  std::string line = "received " + HexText(bytes) + "->";
  for (const auto& n : result.notes) line += " " + n + ";";
  if (!result.prompts.empty()) {
    // A Korvex in configuration mode forwards no radio traffic. What is
    // already on the line (or in the program's queue) stays there: the
    // program must take the prompt from behind it, as on a real line.
    DiscardOutput("configuration mode", true);
    lastQueuedAt = now;
    Bytes answered;
    for (char p : result.prompts) {
      if (++promptsAsked == static_cast<std::uint64_t>(std::max(options.dropPrompt, 0))) {
        ++stats.promptsDropped;
        line += " prompt " + std::to_string(promptsAsked) + " not answered (--drop-prompt);";
      } else {
        answered.push_back(p);
      }
    }
    stats.prompts += answered.size();
    if (!answered.empty()) Queue({Piece{options.promptDelayMs, answered}}, now, true);
  }
  for (const Bytes& frame : result.commandFrames) {
    ++stats.commandFrames;
    if (options.deaf || missRng.Chance(options.miss)) {
      ++stats.commandsMissed;
      line += " the repeater did not hear it;";
      continue;
    }
    auto r = repeater.HandleFrame(frame, LocalSeconds(now));
    // Only the repeater the frame is addressed to takes it.
    for (size_t i = 0; !r.forUs && i < others.size(); ++i) {
      auto o = others[i].HandleFrame(frame, LocalSeconds(now));
      if (o.forUs) r = std::move(o);
    }
    line += " " + r.note + ";";
    if (r.answer) {
      const int delay = answerRng.Between(options.answerDelayMinMs,
                                          std::max(options.answerDelayMinMs, options.answerDelayMaxMs));
      const auto signal = static_cast<std::uint8_t>(answerRng.Between(120, 200));
      events.emplace(now + delay, Event{Kind::Answer, WrapFrame(*r.answer, signal)});
    }
  }
  Log(std::move(line));
}

void SimulatorRunner::Engine::Quiet(std::int64_t now) {
  // The Korvex waits for the PC only once its own prompt has left.
  if (std::any_of(out.begin(), out.end(), [](const OutPiece& p) { return p.prompt; })) return;
  if ((korvex.HasPartialInput() || korvex.CurrentMode() != KorvexTransceiver::Mode::Idle) &&
      now - lastInputMs >= options.quietMs) {
    const auto result = korvex.Idle();
    ++stats.quietTimeouts;
    for (const auto& n : result.notes) Log("line quiet -> " + n);
  }
}

int SimulatorRunner::Engine::Timeout(std::int64_t now) const {
  std::int64_t next = -1;
  const auto consider = [&](std::int64_t t) {
    if (next < 0 || t < next) next = t;
  };
  if (plugged && !sourceDone && outBytes < kOutCap && events.size() < kMaxEvents) consider(nextBurstMs);
  if (!events.empty()) consider(events.begin()->first);
  if (!out.empty() && !blockedOut) {
    // A paced line waits for the line, not only for the piece's time:
    // waking at the piece's time alone spins while the line is busy.
    std::int64_t due = out.front().atMs;
    if (options.baud > 0) due = std::max(due, (lineFreeAtUs + 999) / 1000);
    consider(due);
  }
  const bool promptPending = std::any_of(out.begin(), out.end(), [](const OutPiece& p) { return p.prompt; });
  if (!promptPending && (korvex.HasPartialInput() || korvex.CurrentMode() != KorvexTransceiver::Mode::Idle))
    consider(lastInputMs + options.quietMs);
  if (!inFlight.empty()) consider((inFirstDoneUs + 999) / 1000);
  if (sourceDone && !finished) consider(now + kDrainPollMs);
  if (hung) consider(now + kHungRetryMs);
  if (next < 0) return -1;
  return static_cast<int>(std::clamp<std::int64_t>(next - now, 0, 60'000));
}

}  // namespace sim
