#include <sys/resource.h>
#include <unistd.h>

#include "SerialThreads.h"

namespace comlane {
void RunAtLowestPriority() {
    // The nice value of the calling thread alone (Linux keeps one per thread).
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}
}  // namespace comlane
