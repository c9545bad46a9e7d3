// Where the bridge's benchmarks run: the process measured on a core of its
// own, everything else on the other, and its CPU time from /proc.
#pragma once

#include <sys/types.h>

#include <string>

namespace bench {

inline constexpr int MeasuredCore = 0;  // the measured process's; everything else runs on the other

void pin(pid_t pid, int core);
// The process's user and system time in seconds.
double cpuSeconds(pid_t pid);
// The time on a CPU of the process's thread called `name` (its comm), in
// seconds to the nanosecond (schedstat); throws when there is none.
double threadCpuSeconds(pid_t pid, const std::string& name);

// This process, and so everything it starts, on the core that is not the
// measured one, for as long as it lives.
struct OtherCore {
    OtherCore();
    ~OtherCore();
};

// TMPDIR in memory (/dev/shm) for as long as it lives: the emulator saves
// every module's state file each second, and on a disk folder the saves of
// hundreds of files stall it (the rename over the old file waits for the
// data), which would be measured as the bridge's.
class StateFilesInMemory {
public:
    StateFilesInMemory();
    ~StateFilesInMemory();

private:
    std::string kept_;
    bool had_ = false;
};

}  // namespace bench
