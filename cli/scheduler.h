// Running the jobs of one command line, up to -T N at once.
//
// Jobs start in file order. A job starts when its threads (two for the
// automatic choice, whose trials run in pairs; one otherwise) fit in N
// beside the running ones, and its table memory (Job::memory) fits in the
// memory limit beside theirs; a job that alone passes the limit starts
// when nothing else runs, and the library fails it as it would anyway.
// Jobs running at once therefore never reserve more than the limit
// together. Each job's messages are printed once it and every job before
// it are done, so that they come in file order whatever N is; the outputs
// do not depend on N either, since every job codes its own input alone.
//
// When the stop flag is raised (Ctrl-C), running jobs stop at their next
// block and leave no temporary file, and no further job starts.
#pragma once

#include <vector>

#include "cli/plan.h"

namespace mx::cli {

// Runs the jobs on `threads` threads (0: one per core). With one thread,
// or one job, the jobs run on the calling thread.
void run_jobs(std::vector<Job>& jobs, RunContext& context, unsigned threads);

}  // namespace mx::cli
