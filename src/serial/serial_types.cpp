#include "serial_types.h"

int BaudrateValue(TBaudrate rate) {
  static constexpr int kRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                   14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
  return kRates[rate];
}

TSerialBuffers& TSerialBuffers::operator=(const TSerialBuffers& other) { return AssignAll(*this, other); }

TSerialFlowControl& TSerialFlowControl::operator=(const TSerialFlowControl& other) {
  return AssignAll(*this, other);
}

TSerialEventChars& TSerialEventChars::operator=(const TSerialEventChars& other) {
  return AssignAll(*this, other);
}
