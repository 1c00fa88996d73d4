// What the system's error codes mean for a port that could not be opened,
// and who may open a device node, on POSIX systems.
#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "escape_text.h"
#include "port_connection.h"

bool ReadDeviceAccess(const std::string& path, DeviceAccess& out) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  out.gid = st.st_gid;
  out.mode = st.st_mode & 07777;
  std::vector<char> buffer(4096);
  struct group grp {};
  struct group* found = nullptr;
  if (::getgrgid_r(st.st_gid, &grp, buffer.data(), buffer.size(), &found) == 0 && found && found->gr_name)
    out.group = EscapeControls(found->gr_name);
  return true;
}

ProbeResult ClassifyProbeError(int error) {
  switch (error) {
    case 0:
      return ProbeResult::Ok;
    case EBUSY:
    case EWOULDBLOCK:
      return ProbeResult::Busy;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
      return ProbeResult::Missing;
    case EACCES:
    case EPERM:
    case EROFS:
      return ProbeResult::NoPermission;
    default:
      return ProbeResult::Failed;
  }
}

bool NotBackYet(int error) { return error == EIO || ClassifyProbeError(error) == ProbeResult::Missing; }
