// vekrun's process jobs: the process table (--procs), ending processes
// (--kill) and waiting for their end (--wait), each from system snapshots.
#pragma once

#include <string>

#include "options.h"
#include "process_snapshot.h"

namespace vekrun {

// Whether --match names the process (every process without --match).
bool Matched(const Options& options, const ProcessRecord& process);
// What --fields and --sort name that the table has not; empty when all is known.
std::string ProcessTableProblem(const Options& options);
int ProcessTable(const Options& options);
int KillProcesses(const Options& options);
int WaitForProcesses(const Options& options);

}  // namespace vekrun
