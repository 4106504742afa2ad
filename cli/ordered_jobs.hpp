#pragma once
// Several files decoded at once in worker processes: the decoding path keeps its state in
// single process-wide records, as the program does, so threads could not share it. Each
// worker decodes one file after another as one run without -j would, so the cost of a
// process is paid once per worker, not once per file. Output still comes in the order of
// the files.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel {

/// The bytes job `index` returned, handed over once it has ended; a view valid during the
/// call. Main thread.
using JobAnswer = std::function<void(int index, std::string_view bytes)>;

/// Runs job(0) .. job(count - 1) in up to `jobs` worker processes, each taking the next
/// job when it is done with one and writing its standard output and error into files of
/// its own. As soon as jobs 0..i have ended, job i's standard output is copied to ours,
/// then its standard error to ours. Where processes or open files run short, fewer
/// workers run; with none, a job runs in this process in its turn. `answer` receives what
/// each job returned, except for a job whose worker ended during it. Returns 0, or the
/// errno of the first write of the jobs' standard output that failed, in a worker or
/// here (-1: a failure of unknown reason). Main thread, before any other thread starts.
int run_ordered_jobs(int count, int jobs, const std::function<std::string(int)>& job,
                     const JobAnswer& answer);

}  // namespace tavrel
