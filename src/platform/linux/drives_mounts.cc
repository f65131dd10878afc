// The mount table and df's default choice of mounts.
#include <sys/sysmacros.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <set>
#include <unordered_map>

#include "platform/linux/drives_linux.h"

namespace hostprobe::linux_drives {
namespace {

// mountinfo escapes space, TAB, newline and backslash as \ooo.
std::string Unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
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

// A whole decimal number that fits.
bool ParseNumber(std::string_view text, uint32_t* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool ParseDevice(std::string_view text, uint32_t* major, uint32_t* minor) {
  const auto colon = text.find(':');
  return colon != std::string_view::npos && ParseNumber(text.substr(0, colon), major) &&
         ParseNumber(text.substr(colon + 1), minor);
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> out;
  std::vector<std::string_view> f;
  while (!text.empty()) {
    const auto newline = text.find('\n');
    const std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    // id parent major:minor root mount-point options [optional fields...] - fstype source super-options
    f.clear();
    for (std::size_t i = 0; i < line.size();) {
      if (IsSpace(line[i])) {
        ++i;
        continue;
      }
      const std::size_t start = i;
      while (i < line.size() && !IsSpace(line[i])) ++i;
      f.push_back(line.substr(start, i - start));
    }
    const auto dash = std::find(f.begin(), f.end(), "-");
    if (f.size() < 6 || dash == f.end() || dash - f.begin() < 6 || f.end() - dash < 3) continue;
    MountEntry e;
    if (!ParseNumber(f[0], &e.id) || !ParseDevice(f[2], &e.major, &e.minor)) continue;
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

bool IsLocalFileSystem(std::string_view fstype) {
  static const std::set<std::string_view> local = {
      "bcachefs", "btrfs",    "cramfs", "devtmpfs", "efivarfs", "erofs",    "exfat",     "ext2",
      "ext3",     "ext4",     "f2fs",   "fat",      "hfs",      "hfsplus",  "hugetlbfs", "iso9660",
      "jfs",      "minix",    "msdos",  "nilfs2",   "ntfs",     "ntfs3",    "overlay",   "ramfs",
      "reiserfs", "romfs",    "squashfs", "tmpfs",  "udf",      "ufs",      "vfat",      "xfs",
      "zfs",      "zonefs",
  };
  return local.count(fstype) != 0;
}

std::vector<ListedMount> SelectMounts(const std::vector<MountEntry>& all, const AskFacts& ask) {
  // One place per mount point; the topmost mount shows through it.
  std::vector<const MountEntry*> points;
  std::unordered_map<std::string_view, std::size_t> place;
  place.reserve(all.size());
  for (const MountEntry& e : all) {
    auto [it, fresh] = place.emplace(e.mount_point, points.size());
    if (fresh) {
      points.push_back(&e);
    } else {
      points[it->second] = &e;
    }
  }
  std::erase_if(points, [](const MountEntry* e) { return IsPseudoFileSystem(e->fstype); });

  std::vector<MountProber::Ask> asks(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    asks[i].path = points[i]->mount_point;
    asks[i].local = IsLocalFileSystem(points[i]->fstype);
  }
  ask(asks);

  std::vector<const MountEntry*> kept;
  std::vector<const PathFacts*> kept_facts;
  std::unordered_map<uint64_t, std::vector<std::size_t>> by_device;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const MountEntry& e = *points[i];
    const PathFacts& facts = asks[i].facts;
    // A mount that cannot be asked stays: it is then shown as not ready.
    if (facts.statfs_error == 0 && facts.figures.blocks == 0) continue;

    // The device stat() gives tells the file systems apart (each btrfs
    // subvolume has its own); where stat failed, the mount table's number
    // stands in, and such a mount is never the one dropped.
    const bool stated = facts.stat_error == 0;
    auto& seen_places = by_device[stated ? facts.dev : makedev(e.major, e.minor)];
    const bool remote = IsRemoteMount(e);
    bool dropped = false;
    for (std::size_t at : seen_places) {
      if (!stated) break;
      const MountEntry& seen = *kept[at];
      if (remote && IsRemoteMount(seen) && seen.source != e.source) continue;
      const bool real_device = e.source.find('/') != std::string::npos && seen.source.find('/') == std::string::npos;
      const bool nearer_root = e.mount_point.size() < seen.mount_point.size() && !(seen.root.size() < e.root.size());
      if (real_device || nearer_root) {
        kept[at] = &e;
        kept_facts[at] = &facts;
      }
      dropped = true;
      break;
    }
    if (!dropped) {
      seen_places.push_back(kept.size());
      kept.push_back(&e);
      kept_facts.push_back(&facts);
    }
  }
  std::vector<ListedMount> out;
  out.reserve(kept.size());
  for (std::size_t i = 0; i < kept.size(); ++i) out.push_back({*kept[i], *kept_facts[i]});
  return out;
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

}  // namespace hostprobe::linux_drives
