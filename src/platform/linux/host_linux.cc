#include <sys/utsname.h>
#include <unistd.h>

#include "platform/live/live.h"

namespace hostprobe {

HostFacts ReadHostFacts() {
  HostFacts facts;
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) == 0) facts.host = host;
  struct utsname u {};
  if (uname(&u) == 0) facts.os = std::string(u.sysname) + " " + u.release + " " + u.machine;
  return facts;
}

}  // namespace hostprobe
