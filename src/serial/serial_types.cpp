#include "serial_types.h"

int BaudrateValue(TBaudrate rate) {
  static constexpr int kRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                   14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  return kRates[rate];
}

void TSerialBuffers::CopyFields(const TSerialBuffers& other) {
  m_readSize = other.m_readSize;
  m_writeSize = other.m_writeSize;
  m_readTimeout = other.m_readTimeout;
  m_writeTimeout = other.m_writeTimeout;
  m_xonLimit = other.m_xonLimit;
  m_xoffLimit = other.m_xoffLimit;
}

TSerialBuffers& TSerialBuffers::operator=(const TSerialBuffers& other) { return AssignAll(*this, other); }

void TSerialFlowControl::CopyFields(const TSerialFlowControl& other) {
  m_outCtsFlow = other.m_outCtsFlow;
  m_outDsrFlow = other.m_outDsrFlow;
  m_controlDtr = other.m_controlDtr;
  m_controlRts = other.m_controlRts;
  m_xonXoffOut = other.m_xonXoffOut;
  m_xonXoffIn = other.m_xonXoffIn;
  m_dsrSensitivity = other.m_dsrSensitivity;
  m_txContinueOnXoff = other.m_txContinueOnXoff;
}

TSerialFlowControl& TSerialFlowControl::operator=(const TSerialFlowControl& other) {
  return AssignAll(*this, other);
}

void TSerialEventChars::CopyFields(const TSerialEventChars& other) {
  m_xonChar = other.m_xonChar;
  m_xoffChar = other.m_xoffChar;
  m_errorChar = other.m_errorChar;
  m_eventChar = other.m_eventChar;
  m_eofChar = other.m_eofChar;
}

TSerialEventChars& TSerialEventChars::operator=(const TSerialEventChars& other) {
  return AssignAll(*this, other);
}
