// One job of the conventional interface: the checks that need the file
// system as it is when the job starts (a terminal, an existing output),
// the library's file job (file_jobs.h), the messages and --rm. With --rm
// the input is removed only after the library has synced the output and
// its directory to disk, so that a crash never loses both. run_job may run
// on any thread; it leaves its messages in the job's report.
#pragma once

#include "cli/plan.h"

namespace mx::cli {

void run_job(Job& job, RunContext& context);

}  // namespace mx::cli
