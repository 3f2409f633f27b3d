// KELVARIN_JOBS, read the same way by both programs.
#include "messages/jobs.h"

#include <cstdlib>

#include "extract/extraction.h"
#include "platform/process.h"

namespace kelvarin {

unsigned jobs_from_environment(std::string& warning) {
  warning.clear();
  const char* asked = std::getenv("KELVARIN_JOBS");
  if (asked == nullptr) return default_jobs();
  // Digits only: strtoul would take " 4", "+4" and "-4" (as a huge number).
  const std::string text = asked;
  unsigned long value = 0;
  bool number = !text.empty() && text.size() <= 9;
  for (char c : text) number = number && c >= '0' && c <= '9';
  if (number) value = std::strtoul(text.c_str(), nullptr, 10);
  if (number && value >= 1 && value <= platform::kMaxJobs) return static_cast<unsigned>(value);
  const unsigned jobs = default_jobs();
  warning = "KELVARIN_JOBS=" + text + " is not a number from 1 to " + std::to_string(platform::kMaxJobs) +
            ": using " + std::to_string(jobs) + (jobs == 1 ? " worker" : " workers");
  return jobs;
}

}  // namespace kelvarin
