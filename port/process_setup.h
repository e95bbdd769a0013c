// The few process and console facts a program needs from its platform.
#pragma once

#include <chrono>

namespace zentavol {

// A console that has gone away must only make console writes fail: it must neither end the
// process nor leave a standard descriptor free for the port or the capture file to take. A file
// size limit must likewise only make appends fail. Memory that large backlogs held goes back to
// the system once they drain.
void prepare_console();
// Blocks the thread for the whole duration.
void pause_for(std::chrono::milliseconds duration);
// While one lives, pause_for keeps to about a millisecond where the platform's timer would
// otherwise round every pause up to its tick.
class PrecisePauses {
  public:
    PrecisePauses();
    ~PrecisePauses();  // NOLINT(performance-trivially-destructible): not on every platform
    PrecisePauses(const PrecisePauses&) = delete;
    PrecisePauses& operator=(const PrecisePauses&) = delete;
};

}  // namespace zentavol
