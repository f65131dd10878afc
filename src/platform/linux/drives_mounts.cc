// The mount table and df's default choice of mounts.
#include <sys/sysmacros.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "platform/linux/drives_linux.h"

namespace hostprobe::linux_drives {
namespace {

// mountinfo escapes exactly four bytes, as \ooo: space (\040), TAB (\011),
// newline (\012) and backslash (\134). Any other text is the path's own.
std::string Unescape(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const std::string_view code = s.substr(i, 4);
    if (code == "\\040") {
      out += ' ';
    } else if (code == "\\011") {
      out += '\t';
    } else if (code == "\\012") {
      out += '\n';
    } else if (code == "\\134") {
      out += '\\';
    } else {
      out += s[i];
      continue;
    }
    i += 3;
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


}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> out;
  // One entry a line, allocated once: the table may hold many thousand.
  out.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  std::vector<std::string_view> f;
  while (!text.empty()) {
    const auto newline = text.find('\n');
    const std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    // id parent major:minor root mount-point options [optional fields...] - fstype source super-options
    // The kernel separates fields by one space and escapes space, TAB,
    // newline and backslash inside them; every other byte (CR, VT, FF ...)
    // belongs to its field.
    f.clear();
    for (std::size_t i = 0; i < line.size();) {
      if (line[i] == ' ') {
        ++i;
        continue;
      }
      const std::size_t start = i;
      while (i < line.size() && line[i] != ' ') ++i;
      f.push_back(line.substr(start, i - start));
    }
    const auto dash = std::find(f.begin(), f.end(), "-");
    if (f.size() < 6 || dash == f.end() || dash - f.begin() < 6 || f.end() - dash < 3) continue;
    MountEntry e;
    if (!ParseNumber(f[0], &e.id) || !ParseNumber(f[1], &e.parent) || !ParseDevice(f[2], &e.major, &e.minor)) {
      continue;
    }
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

std::vector<bool> CoveredMounts(const std::vector<MountEntry>& all) {
  std::vector<bool> covered(all.size(), false);
  std::unordered_map<uint32_t, std::size_t> by_id;
  by_id.reserve(all.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    // A table without unique ids (a hand-made one) cannot be walked.
    if (!by_id.emplace(all[i].id, i).second) return covered;
  }
  // The mount points of each mount's children: (parent id, point).
  struct KeyHash {
    std::size_t operator()(const std::pair<uint32_t, std::string_view>& k) const {
      return std::hash<std::string_view>()(k.second) * 31 + k.first;
    }
  };
  std::unordered_set<std::pair<uint32_t, std::string_view>, KeyHash> children;
  children.reserve(all.size());
  for (const MountEntry& e : all) children.emplace(e.parent, e.mount_point);

  // 0 not yet known, 1 reached, 2 not reached. A mount is reached when path
  // resolution gets to its mount point through its parent: the parent is
  // reached and has no mount stacked on its own point (else only that stack
  // goes on), and no other child of the parent sits on a directory above
  // this mount point. Mounts stacked on one point are all reached; the
  // listing shows the topmost.
  std::vector<uint8_t> state(all.size(), 0);
  std::vector<std::size_t> path;
  for (std::size_t start = 0; start < all.size(); ++start) {
    // The chain of parents not yet known, walked up iteratively (a table
    // may nest deeply), then settled from the top down.
    path.clear();
    for (std::size_t i = start; state[i] == 0;) {
      state[i] = 3;  // on the walk: a cycle ends it
      path.push_back(i);
      const auto parent = by_id.find(all[i].parent);
      if (parent == by_id.end() || parent->second == i) break;
      i = parent->second;
    }
    for (std::size_t k = path.size(); k-- > 0;) {
      const std::size_t i = path[k];
      const MountEntry& e = all[i];
      const auto parent_it = by_id.find(e.parent);
      bool reached = true;
      if (parent_it != by_id.end() && parent_it->second != i) {
        const std::size_t p = parent_it->second;
        const MountEntry& parent = all[p];
        if (state[p] != 1) {
          reached = false;  // unreached, or a cycle
        } else if (parent.mount_point != e.mount_point && children.count({parent.id, parent.mount_point})) {
          reached = false;  // the parent's own tree is covered by a mount on its point
        } else {
          // Another child of the parent on a directory between the
          // parent's point and this one.
          std::string_view point = e.mount_point;
          while (reached) {
            const auto slash = point.rfind('/');
            if (slash == std::string_view::npos) break;
            point = point.substr(0, slash == 0 ? 1 : slash);
            if (point.size() <= parent.mount_point.size()) break;
            if (children.count({parent.id, point})) reached = false;
          }
        }
      }
      state[i] = reached ? 1 : 2;
    }
  }
  for (std::size_t i = 0; i < all.size(); ++i) covered[i] = state[i] != 1;
  return covered;
}

std::vector<ListedMount> SelectMounts(const std::vector<MountEntry>& all, const AskFacts& ask) {
  // One place per mount point; the topmost mount shows through it. Mounts
  // that path resolution never reaches (covered by a later mount above
  // them) are left out, as df leaves them out.
  const std::vector<bool> covered = CoveredMounts(all);
  std::vector<const MountEntry*> points;
  std::unordered_map<std::string_view, std::size_t> place;
  place.reserve(all.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    const MountEntry& e = all[i];
    if (covered[i]) continue;
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
  return remote.count(type) != 0;
}

}  // namespace hostprobe::linux_drives
