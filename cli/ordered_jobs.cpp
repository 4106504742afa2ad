// Child processes and their kept output: fork, waitpid, _exit, dup, dup2, tmpfile, read,
// write.

#include "cli/ordered_jobs.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace tavrel {

using JobFunction = std::function<std::string(int)>;

struct Job {
  pid_t pid = -1;
  std::FILE* out = nullptr;     ///< the child's standard output, kept until its turn
  std::FILE* err = nullptr;     ///< the child's standard error
  std::FILE* answer = nullptr;  ///< the bytes the job returned
  std::string result;
  bool ended = false;
};

// Copies what was written into `kept` to the descriptor `to`, or appends it to `text`.
static void copy_out(std::FILE* kept, int to, std::string* text = nullptr) {
  char buffer[1 << 16];
  const int from = fileno(kept);
  lseek(from, 0, SEEK_SET);
  for (;;) {
    const ssize_t got = read(from, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    if (text) {
      text->append(buffer, static_cast<size_t>(got));
      continue;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = write(to, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return;
      done += put;
    }
  }
}

static void close_all(Job& j) {
  for (std::FILE** f : {&j.out, &j.err, &j.answer}) {
    if (*f) std::fclose(*f);
    *f = nullptr;
  }
}

// Runs the job with our standard output and error going to its files.
static std::string run_kept(Job& j, int index, const JobFunction& job) {
  dup2(fileno(j.out), STDOUT_FILENO);
  dup2(fileno(j.err), STDERR_FILENO);
  std::string result = job(index);
  std::fflush(stdout);
  std::fflush(stderr);
  return result;
}

static void start(Job& j, int index, const JobFunction& job) {
  j.out = std::tmpfile();
  j.err = std::tmpfile();
  j.answer = std::tmpfile();
  const bool kept = j.out && j.err && j.answer;
  // Nothing buffered here may be written twice, once by each process.
  std::fflush(stdout);
  std::fflush(stderr);
  if (kept) j.pid = fork();
  if (j.pid == 0) {
    const std::string result = run_kept(j, index, job);
    const bool sent = std::fwrite(result.data(), 1, result.size(), j.answer) == result.size() &&
                      std::fflush(j.answer) == 0;
    _exit(sent ? 0 : 1);
  }
  if (j.pid > 0) return;
  // No process or no file to be had: the job runs here, still in its turn.
  j.ended = true;
  if (!kept) {
    close_all(j);
    j.result = job(index);
    return;
  }
  const int saved_out = dup(STDOUT_FILENO);
  const int saved_err = dup(STDERR_FILENO);
  j.result = run_kept(j, index, job);
  dup2(saved_out, STDOUT_FILENO);
  dup2(saved_err, STDERR_FILENO);
  close(saved_out);
  close(saved_err);
  std::fclose(j.answer);
  j.answer = nullptr;
}

std::vector<std::string> run_ordered_jobs(int count, int jobs, const JobFunction& job) {
  std::vector<Job> all(static_cast<size_t>(count));
  int started = 0;
  int running = 0;
  int shown = 0;  // jobs whose output has been copied out
  while (shown < count) {
    while (running < jobs && started < count) {
      Job& j = all[static_cast<size_t>(started)];
      start(j, started++, job);
      if (!j.ended) ++running;
    }
    // Copy out every job whose turn has come and which has ended.
    while (shown < count && all[static_cast<size_t>(shown)].ended) {
      Job& j = all[static_cast<size_t>(shown++)];
      if (j.out) copy_out(j.out, STDOUT_FILENO);
      if (j.err) copy_out(j.err, STDERR_FILENO);
      close_all(j);
    }
    if (running == 0) continue;
    int status = 0;
    const pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0) {
      if (errno == EINTR) continue;
      break;  // no children left to wait for: cannot happen while running > 0
    }
    for (Job& j : all) {
      if (j.pid != pid || j.ended) continue;
      j.ended = true;
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) copy_out(j.answer, -1, &j.result);
      --running;
    }
  }
  std::vector<std::string> results;
  for (Job& j : all) results.push_back(std::move(j.result));
  return results;
}

}  // namespace tavrel
