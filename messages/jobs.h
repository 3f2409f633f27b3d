// How many workers a run uses when its command line doesn't say: the
// KELVARIN_JOBS policy both front ends share, and its words when the
// variable holds something it can't take.
#pragma once

#include <string>

namespace kelvarin {

// KELVARIN_JOBS where it holds a number from 1 to platform::kMaxJobs, else
// default_jobs(). Any other value is ignored and `warning` says so, as
// "KELVARIN_JOBS=x is not a number from 1 to 64: using 8 workers" (the
// front end puts its name before it); otherwise `warning` is left empty.
unsigned jobs_from_environment(std::string& warning);

}  // namespace kelvarin
