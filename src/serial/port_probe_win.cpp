// What the system's error codes mean for a port that could not be opened,
// on Windows. A port another program holds refuses with "access denied";
// device nodes have no owner group to tell of. The codes are spelt out:
// <windows.h> defines names (interface, EV_*, PURGE_*) that the serial
// headers use themselves.
#include "port_connection.h"

namespace {

enum : int {
  kFileNotFound = 2,       // ERROR_FILE_NOT_FOUND
  kPathNotFound = 3,       // ERROR_PATH_NOT_FOUND
  kAccessDenied = 5,       // ERROR_ACCESS_DENIED
  kBadUnit = 20,           // ERROR_BAD_UNIT
  kGenFailure = 31,        // ERROR_GEN_FAILURE
  kSharingViolation = 32,  // ERROR_SHARING_VIOLATION
  kDevNotExist = 55,       // ERROR_DEV_NOT_EXIST
  kBusy = 170,             // ERROR_BUSY
  kDeviceRemoved = 1617,   // ERROR_DEVICE_REMOVED
};

}  // namespace

bool ReadDeviceAccess(const std::string&, DeviceAccess&) { return false; }

ProbeResult ClassifyProbeError(int error) {
  switch (error) {
    case 0:
      return ProbeResult::Ok;
    case kAccessDenied:
    case kSharingViolation:
    case kBusy:
      return ProbeResult::Busy;
    case kFileNotFound:
    case kPathNotFound:
    case kBadUnit:
    case kDevNotExist:
      return ProbeResult::Missing;
    default:
      return ProbeResult::Failed;
  }
}

bool NotBackYet(int error) {
  return error == kGenFailure || error == kDeviceRemoved || ClassifyProbeError(error) == ProbeResult::Missing;
}
