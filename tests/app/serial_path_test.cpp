// The main window on a real pseudo-terminal: the first show opens the
// configured port, bytes from the device reach the log and the table
// through Comm1's receive event, and the command buttons write to the line.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app_test_util.h"
#include "hex.h"
#include "log_memo.h"
#include "pty_pair.h"

namespace {
Bytes MeterFrame(std::uint8_t idLow, std::uint8_t rssi) {
  Bytes t("\x44\x2D\x2C\x00\x00\x00\x11\x01\x07\x7A\x10\x00\x41\x00\x0C\x13\x01\x02", 18);
  t[3] = static_cast<char>(idLow);
  t += static_cast<char>(rssi);
  return "\x68" + Bytes(1, static_cast<char>(t.size())) + t + "\x16";
}
}  // namespace

TEST(SerialPath, FirstShowOpensThePortAndTrafficFillsTheWindow) {
  PtyPair device;
  FormFixture f;
  f.portName = device.SlavePath();
  TForm1& form = f.Make();
  form.Check_onlyRepeater->setChecked(false);
  EXPECT_FALSE(form.PortOpen());

  form.show();
  ASSERT_TRUE(form.PortOpen()) << form.Memo_log->Lines().join('\n').toStdString();
  const QString opened = form.StatusPanel(0);
  EXPECT_FALSE(opened.isEmpty());
  form.hide();
  form.show();  // shown again: not opened twice
  EXPECT_EQ(form.Memo_log->Lines().mid(1), QStringList{opened});

  const Bytes a = MeterFrame(0x01, 0xB5), b = MeterFrame(0x02, 0x81);
  device.Send(a + b.substr(0, 5));
  device.Send(b.substr(5));
  ASSERT_TRUE(WaitUntil([&] { return form.Table().Cell(1, 2) == "11000002"; }));
  EXPECT_EQ(form.Table().Cell(1, 1), "11000001");
  EXPECT_EQ(form.Table().Cell(6, 1), "90");
  EXPECT_EQ(form.StatusPanel(0), "Last read device: 11000002");
  const QStringList log = form.Memo_log->Lines().mid(2);
  ASSERT_EQ(log.size(), 2);
  EXPECT_TRUE(log[0].endsWith(QString::fromStdString(HexText(a))));
  EXPECT_TRUE(log[1].endsWith(QString::fromStdString(HexText(b))));

  // A command goes out on the line exactly as logged.
  form.Edit_repeaterID->setText(QStringLiteral("12345678"));
  form.Memo_log->Clear();
  QTest::mouseClick(form.BitBtn5, Qt::LeftButton);
  const QStringList sent = form.Memo_log->Lines();
  ASSERT_EQ(sent.size(), 1);
  const Bytes frame = HexTextToBytes(sent[0].toStdString());
  ASSERT_FALSE(frame.empty());
  EXPECT_EQ(device.Receive(frame.size()), frame);
}

TEST(SerialPath, AMissingPortIsReportedAndTheWindowStaysUsable) {
  FormFixture f;
  TForm1& form = f.Make();
  form.show();
  EXPECT_FALSE(form.PortOpen());
  EXPECT_TRUE(form.StatusPanel(0).endsWith(" is closed")) << form.StatusPanel(0).toStdString();
  EXPECT_GT(form.Memo_log->Lines().size(), 1);

  // Commands try to open the port again and send nothing.
  form.Edit_repeaterID->setText(QStringLiteral("12345678"));
  const int before = static_cast<int>(form.Memo_log->Lines().size());
  QTest::mouseClick(form.BitBtn5, Qt::LeftButton);
  EXPECT_FALSE(form.PortOpen());
  EXPECT_GT(form.Memo_log->Lines().size(), before);
  EXPECT_FALSE(form.Memo_log->Lines().last().startsWith(QStringLiteral("68 ")));
}
