#pragma once
// The repeater commands of the main window's buttons, apart from any widget:
// each takes a snapshot of the controls, writes through a CommandPort and
// reports in the log window and the second status bar panel.
//
//   BitBtn5Click, Button2Click, Button3Click,
//   BitBtn1Click, BitBtn8Click, Button5Click -> SendParameter(kind, ...)
//   Button4Click -> SendWirelessMode   BitBtn9Click -> SendNewId
//   Button1Click -> SendCustomData     BitBtn2Click -> SetInKorvex

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "command_frame.h"
#include "command_port.h"
#include "local_formats.h"
#include "log_sink.h"
#include "prompts.h"

inline constexpr char kNoRepeaterSelected[] = "No Repeater selected (or serial ID of repeater is wrong)...";
inline constexpr char kKorvexIdLength[] = "ID should be exactly 8-digits...";
inline constexpr char kNewIdLength[] = "New serial ID must be exactly 8-digits long, please correct";
inline constexpr char kParameterSaved[] = "Parameter succesfully saved!";
inline constexpr char kParameterError[] = "Error setting parameter";
inline constexpr char kFrameNotWritten[] = "The frame could not be written to the port";
// A value the command's field cannot hold: the reason follows.
inline constexpr char kNotSentPrefix[] = "Not sent: ";
// "Set in Korvex" with exchanges that failed: the addresses follow.
inline constexpr char kKorvexFailedAddresses[] = "Korvex parameters not saved at addresses: ";

// A write that the port did not complete.
class CommandWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Millisecond sleep of the real program.
void SleepMilliseconds(int ms);

struct CommandEnvironment {
  LogSink& log;                                        // Memo_log
  std::function<void(const std::string&)> setStatus2;  // StatusBar1, panel index 1
  const Clock& clock;                                  // the PC clock (DateTime)
  std::function<bool()> ensurePortOpen;                // EnsurePortOpen: opened and purged
  CommandPort& port;                                   // Comm1
  Prompts& prompts;                                    // LeaveConfigMode's message box
  std::function<void(int ms)> sleep = SleepMilliseconds;
};

class RepeaterCommands {
 public:
  RepeaterCommands(CommandState& state, CommandEnvironment env) : m_state(state), m_env(std::move(env)) {}

  // True when Edit_repeaterID holds exactly 8 characters; otherwise logs the refusal.
  bool CheckRepeaterSelected(const CommandControls& c);
  // Writes one frame and logs its hex text ("Exception - ..." on a port error).
  void SendCommandFrame(const Bytes& frame);
  // One byte of the Korvex's parameter memory, through its configuration mode.
  bool SetTransceiverParameter(std::uint8_t address, std::uint8_t value);
  void LeaveConfigMode();

  // RxStartHour, RxHours, RxWindow, DateTime, Flag, ClockCalibration.
  void SendParameter(CommandKind kind, const CommandControls& c);
  void SendWirelessMode(const CommandControls& c);
  void SendNewId(const CommandControls& c);
  // Port write errors are not caught here: they reach the application's error report.
  void SendCustomData(const CommandControls& c);
  // True when all eight parameters were saved.
  bool SetInKorvex(const CommandControls& c);

  // The button of `kind` (for the command line).
  void Run(CommandKind kind, const CommandControls& c);

  CommandState& State() { return m_state; }

 private:
  Bytes Build(CommandKind kind, std::string_view data, const CommandControls& c);
  void SendOrRefuse(const Bytes& frame);
  bool AwaitPrompt();
  bool Put(std::uint8_t byte);
  bool Exchange(std::uint8_t address, std::uint8_t value);
  bool ConfigFailed();

  CommandState& m_state;
  CommandEnvironment m_env;
};
