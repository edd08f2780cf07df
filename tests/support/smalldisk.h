// A small tmpfs mounted for one test, so that writes fail as they do on a
// full disk. Mounting needs privileges (CI runs as root); tests skip when
// the folder cannot be mounted.
#pragma once

#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace testsupport {

class SmallDisk {
 public:
  explicit SmallDisk(size_t bytes) {
    char tmpl[] = "/tmp/sonvex-disk-XXXXXX";
    if (!mkdtemp(tmpl)) {
      why_ = std::strerror(errno);
      return;
    }
    path_ = tmpl;
    const std::string options = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0)
      mounted_ = true;
    else
      why_ = std::string("cannot mount a small tmpfs: ") + std::strerror(errno);
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    if (!path_.empty()) ::rmdir(path_.c_str());
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& why() const { return why_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_, why_;
  bool mounted_ = false;
};

}  // namespace testsupport
