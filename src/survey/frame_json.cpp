#include "frame_json.h"

#include <QJsonArray>
#include <QJsonDocument>

#include "command_frame.h"
#include "field_decoders.h"
#include "hex.h"
#include "repeater_answer.h"
#include "survey.h"

namespace survey {

namespace {

QString Text(const std::string& s) { return QString::fromStdString(s); }
QString Hex(std::uint8_t b) { return Text(HexByte(b)); }

const char* KindName(FrameFacts::Kind k) {
  switch (k) {
    case FrameFacts::Kind::kTelegram:
      return "telegram";
    case FrameFacts::Kind::kWrongCI:
      return "wrong_ci";
    case FrameFacts::Kind::kAnswer:
      return "answer";
    default:
      return "short";
  }
}

// The answer's byte positions, as the answer decoder reads them: a field
// counts only when it lies wholly before the signal byte.
struct Answer {
  std::string_view f;
  bool Has(size_t offset, size_t size) const { return offset + size + 2 <= f.size(); }
  std::uint8_t At(size_t offset) const { return ByteAt(f, offset); }
  unsigned Word(size_t offset) const { return At(offset) + 256u * At(offset + 1); }
  bool Matches(size_t offset, std::initializer_list<std::uint8_t> marker) const {
    if (!Has(offset, marker.size())) return false;
    for (std::uint8_t b : marker)
      if (At(offset++) != b) return false;
    return true;
  }
  QString Pairs(std::initializer_list<size_t> offsets) const {
    std::string out;
    for (size_t off : offsets) out += HexByte(At(off));
    return Text(out);
  }
};

}  // namespace

QJsonObject FrameObject(std::string_view frame, const FrameFacts& facts, const LocalTime& now) {
  QJsonObject o;
  o["time"] = Text(IsoTime(now, true));
  o["kind"] = KindName(facts.kind);
  std::string hex = HexText(frame);
  if (!hex.empty()) hex.pop_back();
  o["hex"] = Text(hex);
  if (facts.hasId) {
    o["c"] = Hex(facts.c);
    o["manufacturer"] = Text(ManufacturerText(facts.manufacturer[0], facts.manufacturer[1]));
    o["id"] = Text(IdText(facts.id));
  }
  if (facts.hasType) {
    o["version"] = Hex(facts.version);
    o["medium"] = MediumText(facts.medium);
  }
  if (facts.hasCI) o["ci"] = Hex(facts.ci);
  if (facts.hasHeader) {
    o["status"] = Hex(facts.status);
    o["config"] = Hex(facts.config1);
    o["repeated"] = facts.repeated;
    o["notes"] = facts.ci == 0x78 ? QStringLiteral("Not encrypted (no header)")
                                  : Text(EncryptionText(facts.config1, facts.config2));
  } else if (facts.hasCI) {
    o["repeated"] = false;
  }
  if (facts.hasAux) o["aux_id"] = Text(IdText(facts.auxId));
  if (facts.hasRssi) {
    o["rssi"] = facts.rssi;
    o["rssi_dbm"] = SignedDbm(facts.rssi);
  }
  return o;
}

void AddAnswerFields(QJsonObject& o, std::string_view frame) {
  const Answer f{frame};
  if (f.Matches(16, {0x01, 0xFD})) {
    o["answer"] = "error";
    if (f.Has(19, 1)) {
      o["error_code"] = f.At(19);
      o["error"] = RepeaterErrorText(f.At(19));
    }
  } else if (f.Matches(16, {0x0F, 0xFF, 0x05})) {
    o["answer"] = "flags";
    if (f.Has(20, 4)) o["flags"] = f.Pairs({23, 22, 21, 20});
  } else if (f.Matches(16, {0x0F, 0xFF, 0x06})) {
    o["answer"] = "status";
    if (f.Has(20, 1)) o["start_hour"] = f.At(20);
    if (f.Has(21, 1)) o["rx_hours"] = f.At(21);
    if (f.Has(23, 1))
      if (const char* mode = AnswerModeName(f.At(23))) o["wireless_mode"] = mode;
    if (f.Matches(24, {0x0F, 0xFF, 0x05}) && f.Has(28, 4)) o["flags"] = f.Pairs({31, 30, 29, 28});
    if (f.Matches(32, {0x04, 0x6D}) && f.Has(34, 4)) {
      o["repeater_time_hex"] = f.Pairs({34, 35, 36, 37});
      std::string text;
      DateTimeText(f.At(34), f.At(35), f.At(36), f.At(37), "6D", text);
      o["repeater_time"] = Text(text);
    }
    if (f.Matches(38, {0x0F, 0xFF}) && f.Has(40, 4)) {
      o["clock_calibration_hex"] = f.Pairs({40, 41, 42, 43});
      const CalibrationShown c = ShowCalibration(f.Word(42));
      o["clock_calibration"] = c.value;
      o["clock_calibration_flag"] = c.flag;
    }
    if (f.Matches(44, {0x02, 0x24}) && f.Has(46, 2)) o["work_time_s"] = static_cast<int>(f.Word(46));
    if (f.Matches(48, {0x02, 0x46}) && f.Has(50, 2))
      o["battery_v"] = std::stod(BatteryVoltsText(f.Word(50), '.'));
  }
}

QJsonObject PortObject(const std::string& text, const LocalTime& now) {
  QJsonObject o;
  o["time"] = Text(IsoTime(now, true));
  o["kind"] = "port";
  o["text"] = Text(text);
  return o;
}

QByteArray JsonLine(const QJsonObject& object) {
  QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact);
  line += '\n';
  return line;
}

void JsonLinesWriter::Write(const QJsonObject& object) {
  const QByteArray line = JsonLine(object);
  std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), m_out);
  if (m_flushEach) std::fflush(m_out);
}

void JsonLinesWriter::OnFrameFacts(std::string_view frame, const FrameFacts& facts, const LocalTime& now) {
  Flush();
  m_object = FrameObject(frame, facts, now);
  m_pendingAnswer = facts.kind == FrameFacts::Kind::kAnswer;
  if (m_pendingAnswer) AddAnswerFields(m_object, frame);
  m_reportDue = facts.kind == FrameFacts::Kind::kWrongCI;
  m_pending = true;
}

void JsonLinesWriter::AppendLine(std::string_view line) {
  if (m_pending && m_pendingAnswer) {
    m_lines.emplace_back(line);
    return;
  }
  if (m_reportDue && line.starts_with("Wrong CI-field - ")) {
    m_reportDue = false;
    return;
  }
  Flush();
  Write(PortObject(std::string(line), m_clock.Now()));
}

void JsonLinesWriter::AppendTelegramLine(std::string_view prefix, std::string_view, std::string_view hex) {
  if (m_pending && !m_pendingAnswer) return;
  std::string line(prefix);
  line += hex;
  AppendLine(line);
}

void JsonLinesWriter::PortLine(const std::string& text, const LocalTime& now) {
  Flush();
  Write(PortObject(text, now));
}

void JsonLinesWriter::Flush() {
  if (!m_pending) return;
  if (m_pendingAnswer) {
    QJsonArray lines;
    for (const std::string& l : m_lines) lines.append(Text(l));
    m_object["lines"] = lines;
  }
  Write(m_object);
  m_pending = m_pendingAnswer = m_reportDue = false;
  m_lines.clear();
  m_object = QJsonObject();
}

}  // namespace survey
