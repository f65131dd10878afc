// The mount table and df's default choice of mounts.
#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "platform/linux/drives_linux.h"

namespace hostprobe::linuxdrives {
namespace {

// mountinfo escapes space, TAB, newline and backslash as \ooo.
std::string Unescape(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' && s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' &&
        s[i + 3] <= '7') {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

bool ParseDevice(const std::string& text, uint32_t* major, uint32_t* minor) {
  const auto colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  try {
    std::size_t used = 0;
    *major = static_cast<uint32_t>(std::stoul(text.substr(0, colon), &used));
    if (used != colon) return false;
    *minor = static_cast<uint32_t>(std::stoul(text.substr(colon + 1), &used));
    return used == text.size() - colon - 1;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> out;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    // id parent major:minor root mount-point options [optional fields...] - fstype source super-options
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string w; fields >> w;) f.push_back(w);
    const auto dash = std::find(f.begin(), f.end(), "-");
    if (f.size() < 6 || dash == f.end() || dash - f.begin() < 6 || f.end() - dash < 3) continue;
    MountEntry e;
    if (!ParseDevice(f[2], &e.major, &e.minor)) continue;
    e.root = Unescape(f[3]);
    e.mount_point = Unescape(f[4]);
    e.fstype = Unescape(*(dash + 1));
    e.source = Unescape(*(dash + 2));
    out.push_back(std::move(e));
  }
  return out;
}

bool IsPseudoFileSystem(std::string_view fstype) {
  static const std::set<std::string_view> pseudo = {
      "autofs",    "bpf",      "binfmt_misc", "cgroup",  "cgroup2",     "configfs", "debugfs",
      "devfs",     "devpts",   "fuse.portal", "fusectl", "ignore",      "kernfs",   "mqueue",
      "none",      "nsfs",     "proc",        "pstore",  "rpc_pipefs",  "securityfs", "subfs",
      "sysfs",     "tracefs",
  };
  return pseudo.count(fstype) != 0;
}

std::vector<MountEntry> SelectMounts(const std::vector<MountEntry>& all, BoundedStatFs& stat) {
  // One place per mount point; the topmost mount shows through it.
  std::vector<MountEntry> points;
  std::map<std::string, std::size_t> place;
  for (const MountEntry& e : all) {
    auto [it, fresh] = place.emplace(e.mount_point, points.size());
    if (fresh) {
      points.push_back(e);
    } else {
      points[it->second] = e;
    }
  }

  std::vector<MountEntry> kept;
  std::map<std::pair<uint32_t, uint32_t>, std::vector<std::size_t>> by_device;
  for (MountEntry& e : points) {
    if (IsPseudoFileSystem(e.fstype)) continue;
    FsFigures figures;
    // A mount that cannot be asked stays: it is then shown as not ready.
    if (stat(e.mount_point, &figures) == 0 && figures.blocks == 0) continue;

    auto& seen_places = by_device[{e.major, e.minor}];
    const bool remote = IsRemoteMount(e);
    bool dropped = false;
    for (std::size_t at : seen_places) {
      MountEntry& seen = kept[at];
      if (remote && IsRemoteMount(seen) && seen.source != e.source) continue;
      const bool real_device = e.source.find('/') != std::string::npos &&
                               seen.source.find('/') == std::string::npos;
      const bool nearer_root = e.mount_point.size() < seen.mount_point.size() &&
                               !(seen.root.size() < e.root.size());
      if (real_device || nearer_root) seen = e;
      dropped = true;
      break;
    }
    if (!dropped) {
      seen_places.push_back(kept.size());
      kept.push_back(e);
    }
  }
  return kept;
}

bool IsRemoteMount(const MountEntry& e) {
  std::string_view type = e.fstype;
  if (type.substr(0, 5) == "fuse.") type.remove_prefix(5);
  static const std::set<std::string_view> remote = {
      "9p",        "afs",  "beegfs", "ceph", "cifs",  "coda",     "curlftpfs", "davfs",    "ftpfs",
      "glusterfs", "gpfs", "lustre", "ncp",  "ncpfs", "nfs",      "nfs4",      "orangefs", "pvfs2",
      "rclone",    "s3fs", "smb3",   "smbfs", "smbnetfs", "sshfs", "webdav",
  };
  if (remote.count(type)) return true;
  // "//server/share", "server:/export", "user@host:path"
  const std::string& s = e.source;
  return s.rfind("//", 0) == 0 || (!s.empty() && s[0] != '/' && s.find(':') != std::string::npos);
}

}  // namespace hostprobe::linuxdrives
