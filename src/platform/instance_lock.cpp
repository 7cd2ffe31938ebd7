#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace brn {

std::string InstanceLockFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/brindle";
  return "/run/lock/brindle";
}

TBRNInstanceLock::~TBRNInstanceLock() {
  Release();
}

void TBRNInstanceLock::Release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TBRNInstanceLock::Acquire(const std::string& fileName) {
  if (fd_ >= 0) throw std::logic_error("TBRNInstanceLock: already held");
  if (fileName.empty() || fileName.find('/') != std::string::npos)
    throw std::invalid_argument("TBRNInstanceLock: bad lock name");
  std::string folder = InstanceLockFolder();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw std::system_error(error, "Cannot create the folder " + folder);
  std::string path = folder + "/" + fileName;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "Cannot open " + path);
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    int saved = errno;
    ::close(fd);
    if (saved == EWOULDBLOCK) return false;
    throw std::system_error(saved, std::generic_category(), "Cannot lock " + path);
  }
  fd_ = fd;
  return true;
}

}  // namespace brn
