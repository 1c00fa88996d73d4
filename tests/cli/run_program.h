#pragma once
// Runs one of our programs and collects what it printed.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <string>

struct ProgramResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline ProgramResult RunProgram(const QString& program, const QStringList& args, const QByteArray& input = {},
                                int timeoutMs = 60000,
                                const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(program, args);
  ProgramResult r;
  if (!p.waitForStarted(timeoutMs)) return r;
  if (!input.isEmpty()) p.write(input);
  p.closeWriteChannel();
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}
