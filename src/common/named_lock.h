// System-wide named objects that exist while a process holds them and vanish when it
// ends, however it ends. They serve as per-device locks and as the single-instance
// marker: a crashed instance never leaves a name behind.
//
// On Linux a name is an abstract-namespace Unix socket ("\0tessaly:" + name): the
// kernel removes it with the last descriptor, so there is no file to clean up.
#pragma once

#include <memory>
#include <string>

namespace tessaly {

class NamedLock {
 public:
  enum class Result { Created, AlreadyExists, Failed };

  // Creates the object `name`. On Created, `out` holds it until destroyed.
  static Result Create(const std::string& name, std::unique_ptr<NamedLock>& out);

  // True when some process (this one included) holds `name` right now.
  static bool IsHeld(const std::string& name);

  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  const std::string& Name() const { return m_name; }

 private:
  NamedLock(std::string name, int fd) : m_name(std::move(name)), m_fd(fd) {}
  std::string m_name;
  int m_fd = -1;
};

}  // namespace tessaly
