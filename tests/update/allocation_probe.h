// Records the largest single operator-new request made on this thread while a probe
// is alive. The test binary that links allocation_probe.cpp replaces the global
// operator new, so every std container's request is seen.
#pragma once

#include <cstddef>

namespace tessaly::testing {

class AllocationProbe {
 public:
  AllocationProbe();
  ~AllocationProbe();
  AllocationProbe(const AllocationProbe&) = delete;
  AllocationProbe& operator=(const AllocationProbe&) = delete;
  size_t Largest() const;
};

}  // namespace tessaly::testing
