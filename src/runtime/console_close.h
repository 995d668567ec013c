// What a program does when its console closes: Windows ends the process a
// fixed time after it tells of the close (5 seconds unless changed),
// whatever the process is doing then. The time is spent so that the
// handling ends well inside that limit: waiting for a rewrite of the
// exclude file to finish (so that no temporary file is left), then ending
// git at once, with no grace period, and a short wait for its end. Written
// once, over the platform's primitives.
#pragma once

namespace hushmark {

// How long after the close the system ends the process, and how long the
// handling may take in all, with room to spare for the rest of the
// process's ending.
inline constexpr int consoleCloseLimitMilliseconds = 5000;
inline constexpr int consoleCloseBudgetMilliseconds = 3500;

// `waitForRewrite(milliseconds)` waits that long at most for a rewrite
// under way to finish; `endChild(milliseconds)` ends the child at once and
// waits that long at most for its end. Nothing here allocates.
template <typename WaitForRewrite, typename EndChild>
void handleConsoleClose(WaitForRewrite waitForRewrite, EndChild endChild) {
  constexpr int childWait = 500;
  waitForRewrite(consoleCloseBudgetMilliseconds - childWait);
  endChild(childWait);
}

}  // namespace hushmark
