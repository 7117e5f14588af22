#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "common/named_lock.h"

namespace tessaly {
namespace {

std::string UniqueName(const char* what) {
  return std::string("named-lock-test:") + what + ":" + std::to_string(::getpid());
}

TEST(NamedLock, ExistsWhileHeldAndVanishesWhenReleased) {
  const std::string name = UniqueName("held");
  std::unique_ptr<NamedLock> first, second;
  ASSERT_EQ(NamedLock::Create(name, first), NamedLock::Result::Created);
  EXPECT_EQ(NamedLock::Create(name, second), NamedLock::Result::AlreadyExists);
  EXPECT_FALSE(second);
  EXPECT_TRUE(NamedLock::IsHeld(name));
  first.reset();
  EXPECT_FALSE(NamedLock::IsHeld(name));
  EXPECT_EQ(NamedLock::Create(name, second), NamedLock::Result::Created);
}

TEST(NamedLock, LongNamesStayDistinct) {
  const std::string head(200, 'n');
  std::unique_ptr<NamedLock> a, b;
  ASSERT_EQ(NamedLock::Create(head + UniqueName("a"), a), NamedLock::Result::Created);
  EXPECT_EQ(NamedLock::Create(head + UniqueName("b"), b), NamedLock::Result::Created);
}

TEST(NamedLock, ACrashedHolderLeavesNoNameBehind) {
  const std::string name = UniqueName("crash");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::unique_ptr<NamedLock> lock;
    bool created = NamedLock::Create(name, lock) == NamedLock::Result::Created;
    char c = created ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    ::pause();
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_TRUE(NamedLock::IsHeld(name));
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_FALSE(NamedLock::IsHeld(name));
  ::close(ready[0]);
  ::close(ready[1]);
}

}  // namespace
}  // namespace tessaly
