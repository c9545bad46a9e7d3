// Ctrl-C, SIGTERM and SIGHUP.  While a link is open they are held back
// rather than handled, so no exchange is ever cut short and the link is
// always closed with _Done on the way out: the commands ask at their safe
// points how many came.  While the tool only waits for input and holds
// nothing that a signal would leave half done (a file or a pipe to read, a
// trace file to open), they end it at once.
#pragma once

#include <chrono>

namespace cli::interrupt {

// Holds the signals back for the whole process (before any thread starts)
// and ignores SIGPIPE, so a closed pipe is a failed write, not a death.
void Install();
// How many signals came so far (two at once may count as one).
int Count();
bool Requested();
// Waits until the deadline; true when a signal came first.
bool WaitUntil(std::chrono::steady_clock::time_point deadline);

// While one lives, a signal ends the process at once, as if nothing held it
// back (a signal that came before is taken now).
class Promptly {
public:
    Promptly();
    ~Promptly();
    Promptly(const Promptly&) = delete;
    Promptly& operator=(const Promptly&) = delete;
};

}  // namespace cli::interrupt
