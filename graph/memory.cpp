#include "graph/memory.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

std::size_t memoryAvailable() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  std::size_t available = std::size_t{1} << 32;
  if (pages > 0 && pageSize > 0)
    available = static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize);
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit limit {};
    if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
      available = std::min(available, static_cast<std::size_t>(limit.rlim_cur));
  }
  return available;
}
