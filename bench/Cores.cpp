#include "Cores.h"

#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace bench {

void pin(pid_t pid, int core) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core, &set);
    ::sched_setaffinity(pid, sizeof set, &set);
}

double cpuSeconds(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15) ticks += std::stod(field);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double threadCpuSeconds(pid_t pid, const std::string& name) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::string comm;
        std::getline(std::ifstream(task.path() / "comm"), comm);
        if (comm != name) continue;
        double ns = 0;
        std::ifstream(task.path() / "schedstat") >> ns;
        return ns / 1e9;
    }
    throw std::runtime_error("no thread " + name + " in process " + std::to_string(pid));
}

OtherCore::OtherCore() {
    if (std::thread::hardware_concurrency() > 1) pin(0, MeasuredCore + 1);
}

OtherCore::~OtherCore() {
    cpu_set_t all;
    CPU_ZERO(&all);
    for (unsigned c = 0; c < std::thread::hardware_concurrency(); ++c) CPU_SET(c, &all);
    ::sched_setaffinity(0, sizeof all, &all);
}

StateFilesInMemory::StateFilesInMemory() {
    const char* before = std::getenv("TMPDIR");
    had_ = before != nullptr;
    kept_ = before ? before : "";
    if (::access("/dev/shm", W_OK) == 0) ::setenv("TMPDIR", "/dev/shm", 1);
}

StateFilesInMemory::~StateFilesInMemory() { had_ ? ::setenv("TMPDIR", kept_.c_str(), 1) : ::unsetenv("TMPDIR"); }

}  // namespace bench
