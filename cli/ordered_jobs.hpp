#pragma once
// Several files decoded at once, each in a process of its own: the decoding path keeps
// its state in single process-wide records, as the program does, so threads could not
// share it. Output still comes in the order of the files.

#include <functional>
#include <string>
#include <vector>

namespace tavrel {

/// Runs job(0) .. job(count - 1), up to `jobs` at a time, each in a child process whose
/// standard output and error go to files of their own. As soon as jobs 0..i have ended,
/// job i's standard output is copied to ours, then its standard error to ours. Returns
/// the bytes each job returned, empty for a job that did not end by itself. Main
/// thread, before any other thread starts.
std::vector<std::string> run_ordered_jobs(int count, int jobs,
                                          const std::function<std::string(int)>& job);

}  // namespace tavrel
