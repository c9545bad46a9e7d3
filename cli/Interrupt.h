// Ctrl-C, SIGTERM and SIGHUP as a request to stop at the next safe point:
// they are held back rather than handled, so no exchange is ever cut short
// and the link is always closed with _Done on the way out.
#pragma once

#include <chrono>

namespace cli::interrupt {

// Holds the signals back for the whole process (before any thread starts)
// and ignores SIGPIPE, so a closed pipe is a failed write, not a death.
void Install();
bool Requested();
// Waits until the deadline; true when a signal came first.
bool WaitUntil(std::chrono::steady_clock::time_point deadline);

}  // namespace cli::interrupt
