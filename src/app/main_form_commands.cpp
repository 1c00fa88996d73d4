// TForm1's repeater command buttons: each reads the controls into a
// snapshot at the moment of the click and hands it to RepeaterCommands.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "log_memo.h"
#include "main_form.h"
#include "provisioning_page.h"
#include "repeater_commands.h"
#include "up_down.h"

DecodeOptions TForm1::DecodeSnapshot() const {
  DecodeOptions o;
  o.discardWrongCI = m_settings ? m_settings().discardWrongCI : true;
  o.onlyRepeater = Check_onlyRepeater->isChecked();
  o.repeaterId = Edit_repeaterID->text().toStdString();
  o.newId = Edit_newID->text().toStdString();
  o.noNew = Check_noNew->isChecked();
  if (m_provisioning) o.answerIds = m_provisioning->AnswerIds();
  return o;
}

CommandControls TForm1::CommandSnapshot() const {
  // What the spinners' boxes show is what is sent: text they cannot hold
  // is corrected in view first.
  UD_rxstarttime->Commit();
  UD_rxtime->Commit();
  CommandControls c;
  c.repeaterId = Edit_repeaterID->text().toStdString();
  c.bmt = Check_bmt->isChecked();
  if (m_settings) c.version = m_settings().version;
  c.rxStartHour = UD_rxstarttime->Position();
  c.rxHours = UD_rxtime->Position();
  c.flag = Edit_flag->text().toStdString();
  c.flagSet = CheckBox2->isChecked();
  c.calibration = Edit1->text().toStdString();
  c.calibrationOn = Check_onClock->isChecked();
  c.wirelessMode = Combo_wirelessMode->currentText().toStdString();
  c.newId = Edit_newID->text().toStdString();
  c.customCommand = Edit_send_command->text().toStdString();
  return c;
}

void TForm1::SetCommandPort(CommandPort* port, std::function<bool()> ensurePortOpen) {
  m_commands.reset();
  if (!port) return;
  CommandEnvironment env{*Memo_log,
                         [this](const std::string& text) {
                           ++m_commandResults;
                           SetStatusPanel(1, QString::fromStdString(text));
                         },
                         *m_env.clock,
                         std::move(ensurePortOpen),
                         *port,
                         *m_env.prompts};
  m_commands = std::make_unique<RepeaterCommands>(m_commandState, std::move(env));
}

template <class Fn>
void TForm1::RunCommand(Fn fn) {
  if (m_commands) fn(*m_commands, CommandSnapshot());
}

void TForm1::ConnectCommandButtons() {
  const std::pair<QPushButton*, void (TForm1::*)()> buttons[] = {
      {BitBtn1, &TForm1::BitBtn1Click}, {BitBtn2, &TForm1::BitBtn2Click}, {BitBtn5, &TForm1::BitBtn5Click},
      {BitBtn8, &TForm1::BitBtn8Click}, {BitBtn9, &TForm1::BitBtn9Click}, {Button1, &TForm1::Button1Click},
      {Button2, &TForm1::Button2Click}, {Button3, &TForm1::Button3Click}, {Button4, &TForm1::Button4Click},
      {Button5, &TForm1::Button5Click}};
  for (const auto& [button, handler] : buttons) connect(button, &QPushButton::clicked, this, handler);
}

void TForm1::BitBtn1Click() {
  RunCommand(
      [](RepeaterCommands& r, const CommandControls& c) { r.SendParameter(CommandKind::DateTime, c); });
}
void TForm1::BitBtn2Click() {
  // Eight exchanges with their fixed waits take more than a second.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  struct Restore {
    ~Restore() { QApplication::restoreOverrideCursor(); }
  } restore;
  // Its result goes to the status bar and, as the other commands leave
  // theirs there, to the log.
  const unsigned before = m_commandResults;
  std::string id;
  RunCommand([&id](RepeaterCommands& r, const CommandControls& c) {
    id = c.repeaterId;
    r.SetInKorvex(c);
  });
  if (m_commandResults != before)
    Memo_log->AppendLine(std::string_view("Set in Korvex " + id + ": " + StatusPanel(1).toStdString()));
}
void TForm1::BitBtn5Click() {
  RunCommand(
      [](RepeaterCommands& r, const CommandControls& c) { r.SendParameter(CommandKind::RxStartHour, c); });
}
void TForm1::BitBtn8Click() {
  RunCommand([](RepeaterCommands& r, const CommandControls& c) { r.SendParameter(CommandKind::Flag, c); });
}
void TForm1::BitBtn9Click() {
  RunCommand([](RepeaterCommands& r, const CommandControls& c) { r.SendNewId(c); });
}
void TForm1::Button1Click() {
  RunCommand([](RepeaterCommands& r, const CommandControls& c) { r.SendCustomData(c); });
}
void TForm1::Button2Click() {
  RunCommand([](RepeaterCommands& r, const CommandControls& c) { r.SendParameter(CommandKind::RxHours, c); });
}
void TForm1::Button3Click() {
  RunCommand(
      [](RepeaterCommands& r, const CommandControls& c) { r.SendParameter(CommandKind::RxWindow, c); });
}
void TForm1::Button4Click() {
  RunCommand([](RepeaterCommands& r, const CommandControls& c) { r.SendWirelessMode(c); });
}
void TForm1::Button5Click() {
  RunCommand([](RepeaterCommands& r, const CommandControls& c) {
    r.SendParameter(CommandKind::ClockCalibration, c);
  });
}
