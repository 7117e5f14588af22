#include "allocation_probe.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool g_armed = false;
thread_local size_t g_largest = 0;

void* Allocate(size_t n) {
  if (g_armed && n > g_largest)
    g_largest = n;
  if (void* p = std::malloc(n == 0 ? 1 : n))
    return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(size_t n) {
  return Allocate(n);
}
void* operator new[](size_t n) {
  return Allocate(n);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}

namespace tessaly::testing {

AllocationProbe::AllocationProbe() {
  g_largest = 0;
  g_armed = true;
}
AllocationProbe::~AllocationProbe() {
  g_armed = false;
}
size_t AllocationProbe::Largest() const {
  return g_largest;
}

}  // namespace tessaly::testing
