// The main window with the settings store, the answer decoder and the
// repeater commands behind it.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app_test_util.h"
#include "hex.h"
#include "log_memo.h"
#include "repeater_answer.h"
#include "repeater_commands.h"
#include "up_down.h"

namespace {

// Takes what the commands write; the transceiver never answers.
class CapturePort : public CommandPort {
 public:
  std::vector<Bytes> written;
  bool WriteString(std::string_view bytes) override {
    written.emplace_back(bytes);
    return true;
  }
  bool WriteByte(std::uint8_t byte) override {
    written.emplace_back(1, static_cast<char>(byte));
    return true;
  }
  int ReadData(char*, int) override { return 0; }
  void PurgeAll() override {}
  void Drain() override {}
  bool WaitForInput(int) override { return false; }
};

Bytes RepeaterFrame(std::uint8_t ci, const Bytes& body) {
  Bytes t = "\x44\x2D\x2C\x78\x56\x34\x12\x01\x07";  // 12345678
  t += static_cast<char>(ci);
  t += body;
  t += '\x90';
  return "\x68" + Bytes(1, static_cast<char>(t.size())) + t + "\x16";
}

}  // namespace

TEST(IniFileMainStore, KeepsBothValuesInTheProgramsIniFile) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("velrpt.ini").toStdString();
  IniFileMainStore store(path);
  MainIniValues fresh = store.Load();
  EXPECT_EQ(fresh.lastRepeater, "");
  EXPECT_EQ(fresh.setRxTime, 2);

  ASSERT_TRUE(store.Save({"0042", 5}));
  MainIniValues back = IniFileMainStore(path).Load();
  EXPECT_EQ(back.lastRepeater, "0042");
  EXPECT_EQ(back.setRxTime, 5);

  IniFileMainStore nowhere(dir.filePath("missing/dir/velrpt.ini").toStdString());
  EXPECT_FALSE(nowhere.Save({"1", 1}));
}

TEST(MainFormIntegration, TheSelectedRepeatersFramesAreDecodedIntoTheLog) {
  FormFixture f;
  TForm1& form = f.Make();
  Bytes port;
  form.SetPortReader([&](char* d, int max) {
    const int n = std::min<int>(max, static_cast<int>(port.size()));
    std::copy_n(port.data(), n, d);
    port.erase(0, static_cast<size_t>(n));
    return n;
  });
  form.Edit_repeaterID->setText(QStringLiteral("12345678"));
  const Bytes frame = RepeaterFrame(0x7A, Bytes("\x10\x00\x41\x00\x0C\x13\x01\x02\x03\x04", 10));
  port = frame;
  form.Comm1RxChar(nullptr, static_cast<int>(frame.size()));

  VectorLogSink answer;
  DecodeRepeaterAnswer(frame, answer, form.Times());
  ASSERT_FALSE(answer.lines.empty());
  const QStringList log = form.Memo_log->Lines().mid(1);
  ASSERT_EQ(log.size(), static_cast<int>(answer.lines.size()) + 1);
  EXPECT_TRUE(log[0].endsWith(QString::fromStdString(HexText(frame))));
  for (size_t i = 0; i < answer.lines.size(); ++i)
    EXPECT_EQ(log[static_cast<int>(i) + 1].toStdString(), answer.lines[i]);
  EXPECT_EQ(form.Table().Cell(1, 1), "");
}

TEST(MainFormIntegration, CommandButtonsWriteFramesFromTheControls) {
  FormFixture f;
  TForm1& form = f.Make();
  CapturePort port;
  bool portOpens = true;
  form.SetCommandPort(&port, [&] { return portOpens; });
  form.SetSettingsReader([] {
    SettingsSnapshot s;
    s.version = "3";
    return s;
  });

  // No repeater selected: refused in the log, nothing written.
  QTest::mouseClick(form.BitBtn5, Qt::LeftButton);
  ASSERT_EQ(form.Memo_log->Lines().mid(1), QStringList{kNoRepeaterSelected});
  EXPECT_TRUE(port.written.empty());

  form.Edit_repeaterID->setText(QStringLiteral("12345678"));
  struct Case {
    QPushButton* button;
    const char* name;
  } cases[] = {{form.BitBtn5, "BitBtn5"}, {form.Button2, "Button2"}, {form.Button3, "Button3"},
               {form.BitBtn1, "BitBtn1"}, {form.BitBtn8, "BitBtn8"}, {form.Button4, "Button4"}};
  for (const Case& c : cases) {
    form.Memo_log->Clear();
    port.written.clear();
    QTest::mouseClick(c.button, Qt::LeftButton);
    ASSERT_EQ(port.written.size(), 1u) << c.name;
    EXPECT_EQ(form.Memo_log->Lines(), QStringList{QString::fromStdString(HexText(port.written[0]))})
        << c.name;
  }

  // The spinner's position reaches the frame: two RX-hour frames differ.
  port.written.clear();
  form.UD_rxtime->SetPosition(3);
  QTest::mouseClick(form.Button2, Qt::LeftButton);
  form.UD_rxtime->SetPosition(4);
  QTest::mouseClick(form.Button2, Qt::LeftButton);
  ASSERT_EQ(port.written.size(), 2u);
  EXPECT_NE(port.written[0], port.written[1]);

  // A port that cannot be opened: nothing is written.
  portOpens = false;
  port.written.clear();
  QTest::mouseClick(form.BitBtn5, Qt::LeftButton);
  EXPECT_TRUE(port.written.empty());

  // Without a port the buttons do nothing at all.
  form.SetCommandPort(nullptr, {});
  form.Memo_log->Clear();
  QTest::mouseClick(form.BitBtn5, Qt::LeftButton);
  EXPECT_EQ(form.Memo_log->Lines(), QStringList{});
}

// "Set in Korvex" blocks the window for more than a second: the operator sees
// a busy cursor while it runs, and the normal one afterwards.
// Bit 15 of the calibration word is "On/Off": a typed value the other 15
// bits cannot hold is refused with the range in the log, and nothing is sent.
TEST(MainFormIntegration, CalibrationTheFieldCannotHoldIsRefused) {
  FormFixture f;
  TForm1& form = f.Make();
  CapturePort port;
  form.SetCommandPort(&port, [] { return true; });
  form.Edit_repeaterID->setText(QStringLiteral("12345678"));
  const struct {
    const char* typed;
    const char* records;  // nullptr: refused
  } cases[] = {{"32767", "0F FF 32 02 FF 7F 16 "},
               {"32768", nullptr},
               {"40000", nullptr},
               {"0", "0F FF 32 02 00 00 16 "}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    form.Memo_log->Clear();
    port.written.clear();
    form.Edit1->clear();
    QTest::keyClicks(form.Edit1, QString::fromLatin1(c.typed));
    ASSERT_EQ(form.Edit1->text(), QString::fromLatin1(c.typed));
    QTest::mouseClick(form.Button5, Qt::LeftButton);
    const QStringList log = form.Memo_log->Lines();
    ASSERT_FALSE(log.isEmpty());
    if (c.records) {
      ASSERT_EQ(port.written.size(), 1u);
      EXPECT_TRUE(log.back().endsWith(QLatin1String(c.records))) << log.back().toStdString();
      continue;
    }
    EXPECT_TRUE(port.written.empty());
    EXPECT_EQ(log.back().toStdString(),
              std::string("Not sent: the clock calibration is 0 to 32767, not '") + c.typed + "'");
  }
}

TEST(MainFormIntegration, SetInKorvexShowsABusyCursorWhileItRuns) {
  FormFixture f;
  TForm1& form = f.Make();
  class CursorPort : public CapturePort {
   public:
    std::vector<bool> busy;
    bool WriteByte(std::uint8_t byte) override {
      const QCursor* c = QApplication::overrideCursor();
      busy.push_back(c && c->shape() == Qt::WaitCursor);
      return CapturePort::WriteByte(byte);
    }
  } port;
  form.SetCommandPort(&port, [] { return true; });
  form.Edit_repeaterID->setText(QStringLiteral("12345678"));
  QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
  ASSERT_FALSE(port.busy.empty());
  EXPECT_EQ(std::count(port.busy.begin(), port.busy.end(), false), 0);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
