#include "common/named_lock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

namespace tessaly {
namespace {

// Builds the abstract socket address for `name`. Names too long for sun_path keep
// their head and get a hash of the whole name, so distinct names stay distinct.
socklen_t MakeAddress(const std::string& name, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  std::string text = "tessaly:" + name;
  const size_t room = sizeof(addr.sun_path) - 1;  // first byte is the abstract marker
  if (text.size() > room) {
    char hash[20];
    std::snprintf(hash, sizeof hash, "#%016zx", std::hash<std::string>{}(text));
    text = text.substr(0, room - std::strlen(hash)) + hash;
  }
  std::memcpy(addr.sun_path + 1, text.data(), text.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + text.size());
}

}  // namespace

NamedLock::Result NamedLock::Create(const std::string& name, std::unique_ptr<NamedLock>& out) {
  out.reset();
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Result::Failed;
  sockaddr_un addr;
  socklen_t len = MakeAddress(name, addr);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
    int err = errno;
    ::close(fd);
    return err == EADDRINUSE ? Result::AlreadyExists : Result::Failed;
  }
  out.reset(new NamedLock(name, fd));
  return Result::Created;
}

bool NamedLock::IsHeld(const std::string& name) {
  std::unique_ptr<NamedLock> probe;
  return Create(name, probe) == Result::AlreadyExists;
}

NamedLock::~NamedLock() {
  if (m_fd >= 0) ::close(m_fd);
}

}  // namespace tessaly
