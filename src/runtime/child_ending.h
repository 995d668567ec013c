// How a child that has to go before its time is ended, on every route (its
// output outgrew a cap, reading it failed, an interruption ends this
// program): it is asked to end where the platform has a way to ask, given a
// grace period to finish and tidy up (git removes its index.lock), and
// killed when it has not ended by then. Written once, over each route's
// primitives.
#pragma once

namespace hushmark {

// How long a child may take to end once it has been asked.
inline constexpr int childGraceMilliseconds = 1000;

// Once git has ended, everything it wrote is in its pipes; a process it
// left behind may still hold them open, for ever. What they hold is then
// taken until they have nothing more ready, for this long at most, and the
// run is judged by git's own status.
inline constexpr int leftoverReadMilliseconds = 1000;

// `ask()` asks the child to end; `finishWithin(milliseconds)` waits that
// long at most for its end, meanwhile doing what lets it finish (reading
// its output), and says whether it ended; `kill()` ends it at once. Nothing
// here allocates, so a signal handler may use it with primitives that are
// safe there.
template <typename Ask, typename FinishWithin, typename Kill>
void endChildGently(Ask ask, FinishWithin finishWithin, Kill kill) {
  ask();
  if (!finishWithin(childGraceMilliseconds)) kill();
}

}  // namespace hushmark
