#pragma once
// JSON Lines: every received frame, and every port event, as one compact
// JSON object per line, for jq, MQTT bridges and databases. The values are
// the texts and numbers the table and the answer lines show for the frame.

#include <QByteArray>
#include <QJsonObject>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "frame_facts.h"
#include "log_sink.h"

namespace survey {

// The frame's object: time, kind, hex and the header fields it carries.
QJsonObject FrameObject(std::string_view frame, const FrameFacts& facts, const LocalTime& now);
// The decoded records of a repeater's answer, added to `object`.
void AddAnswerFields(QJsonObject& object, std::string_view frame);
// A port event (open, loss, reconnection, error): its log line as `text`.
QJsonObject PortObject(const std::string& text, const LocalTime& now);
// Compact, with the line feed.
QByteArray JsonLine(const QJsonObject& object);

// Observes the receive path and listens to its log: an answer's object
// carries the log lines decoded from it, so an object is written when the
// next frame comes, or at Flush (after each receive event).
class JsonLinesWriter : public FrameObserver, public LogSink {
 public:
  // `clock` stamps the log lines that become "port" objects.
  JsonLinesWriter(FILE* out, bool flushEachLine, const Clock& clock)
      : m_out(out), m_flushEach(flushEachLine), m_clock(clock) {}
  ~JsonLinesWriter() override { Flush(); }

  void OnFrameFacts(std::string_view frame, const FrameFacts& facts, const LocalTime& now) override;
  // A log line of the receive path. An answer keeps its lines; a refused
  // frame's "Wrong CI-field" report is its object; any other line (a failed
  // read, an error) becomes a "port" object, so nothing the log shows is lost.
  void AppendLine(std::string_view line) override;
  // A frame's own line: only an answer's is kept, the others' objects stand for it.
  void AppendTelegramLine(std::string_view prefix, std::string_view frame, std::string_view hex) override;
  // A port event's log line.
  void PortLine(const std::string& text, const LocalTime& now);
  void Flush();

 private:
  void Write(const QJsonObject& object);

  FILE* m_out;
  bool m_flushEach;
  const Clock& m_clock;
  bool m_pending = false;
  bool m_pendingAnswer = false;
  bool m_reportDue = false;  // a refused frame's first log line is still to come
  QJsonObject m_object;
  std::vector<std::string> m_lines;
};

// Lines of the port connection (and of the commands sent) as "port" objects.
class PortLineSink : public LogSink {
 public:
  PortLineSink(JsonLinesWriter& writer, const Clock& clock) : m_writer(writer), m_clock(clock) {}
  void AppendLine(std::string_view line) override { m_writer.PortLine(std::string(line), m_clock.Now()); }

 private:
  JsonLinesWriter& m_writer;
  const Clock& m_clock;
};

}  // namespace survey
