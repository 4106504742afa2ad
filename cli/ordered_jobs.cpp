// Worker processes and their kept output: fork, waitpid, _exit, mmap, socketpair, send,
// read, poll, dup2, close, tmpfile, lseek, sendfile, pread, fstat, write.

#include "cli/ordered_jobs.hpp"

#include <poll.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

namespace tavrel {

using JobFunction = std::function<std::string(int)>;

namespace {

/// What a worker sends back after each job. The bytes the job returned go to a file, so
/// that reports stay small and many fit into the socket while this process is not
/// scheduled: a worker never waits for it.
struct Report {
  int32_t job;
  uint32_t size;      ///< bytes the job returned
  int64_t answer_at;  ///< bytes into the worker's answer file, where they lie
  int64_t out_end;    ///< bytes, the worker's output file after the job
  int64_t err_end;    ///< bytes, its error file after the job
  int64_t lost;       ///< errno of a failed write of the job's standard output; 0 none,
                      ///< -1 one of unknown reason
};

/// A job's answer larger than this is no answer of ours.
constexpr uint32_t largest_answer = 1 << 20;  ///< bytes

using SharedNumber = std::atomic<int32_t>;
static_assert(SharedNumber::is_always_lock_free, "shared between processes");

/// One worker's place. Its files outlive its process: the output of jobs that have ended
/// waits there for its turn.
struct Worker {
  pid_t pid = -1;                ///< -1: no process
  int link = -1;                 ///< our end of its socket pair, where its reports come in
  int child_link = -1;           ///< the worker's end, until its process has it
  std::FILE* out = nullptr;      ///< the worker's standard output
  std::FILE* err = nullptr;      ///< its standard error
  std::FILE* answers = nullptr;  ///< the bytes its jobs returned
  int64_t out_end = 0;           ///< bytes of `out` that belong to jobs that have ended
  int64_t err_end = 0;           ///< bytes, the same for `err`
  std::string inbox;             ///< bytes of its reports not yet taken
};

/// Where a job's output lies, once it has ended.
struct Kept {
  int worker = -1;       ///< whose files hold the output; -1: ran in this process
  int64_t out_from = 0;  ///< bytes into the worker's `out`
  int64_t out_to = 0;
  int64_t err_from = 0;  ///< bytes into the worker's `err`
  int64_t err_to = 0;
  bool ended = false;
};

struct Run {
  int count = 0;
  // In memory all processes share: workers take the next job themselves, so that none
  // waits for this process to be scheduled between two jobs.
  SharedNumber* next = nullptr;     ///< the next job nobody has taken
  SharedNumber* running = nullptr;  ///< per worker, the job taken and not reported; -1 none
  std::vector<Worker> workers;
  std::vector<Kept> kept;
  const JobAnswer* answer = nullptr;
  int lost = 0;         ///< errno of the first failed write of standard output; 0 none
  std::string answers;  ///< the answers of one batch of reports, as read
};

// Without SIGPIPE: a reader that has gone is seen from the answer.
bool send_all(int to, const void* from, size_t size) {
  const auto* at = static_cast<const char*>(from);
  while (size > 0) {
    const ssize_t put = send(to, at, size, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    at += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

// Copies bytes [from, to) of `kept` to the descriptor `to_fd`: in one call where the
// kernel can, else through a buffer (sendfile refuses, for one, a file opened to append).
// Returns 0, or the errno of a write that failed.
int copy_out(std::FILE* kept, int64_t from, int64_t to, int to_fd) {
  off_t at = from;
  while (at < to) {
    const ssize_t sent = sendfile(to_fd, fileno(kept), &at, static_cast<size_t>(to - at));
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) break;
  }
  char buffer[1 << 16];
  while (at < to) {
    const auto want = static_cast<size_t>(std::min<int64_t>(sizeof buffer, to - at));
    const ssize_t got = pread(fileno(kept), buffer, want, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return 0;  // what the worker wrote cannot be read back: nothing to add
    at += got;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = write(to_fd, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return put < 0 ? errno : EIO;
      done += put;
    }
  }
  return 0;
}

int64_t size_of(std::FILE* file) {
  struct stat st {};
  return fstat(fileno(file), &st) == 0 ? st.st_size : 0;
}

void close_links(Worker& w) {
  for (int* link : {&w.link, &w.child_link}) {
    if (*link >= 0) close(*link);
    *link = -1;
  }
}

void close_files(Worker& w) {
  for (std::FILE** f : {&w.out, &w.err, &w.answers}) {
    if (*f) std::fclose(*f);
    *f = nullptr;
  }
}

// Gives worker k a socket pair unless it has one; false when none could be had.
bool open_link(Worker& w) {
  if (w.link >= 0) return true;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return false;
  w.link = pair[0];
  w.child_link = pair[1];
  return true;
}

// Writes out what standard output holds; 0, or the errno of a write of it that failed
// (a full disk) since the last call, -1 where that is not known.
int written_out() {
  int lost = std::fflush(stdout) != 0 ? errno : 0;
  if (lost == 0 && std::ferror(stdout)) lost = -1;  // failed earlier, its reason gone
  std::clearerr(stdout);
  return lost;
}

// Worker k's life: it takes one job after the other, runs it with standard output and
// error going to its files, and reports it, until no job is left.
[[noreturn]] void work(const Run& run, size_t k, int link, const JobFunction& job) {
  const int out = fileno(run.workers[k].out);
  const int err = fileno(run.workers[k].err);
  const int answers = fileno(run.workers[k].answers);
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  if (out > STDERR_FILENO) close(out);
  if (err > STDERR_FILENO) close(err);
  // A worker started again goes on after its predecessor's answers.
  int64_t answered = lseek(answers, 0, SEEK_END);
  SharedNumber& running = run.running[k];
  for (;;) {
    // Marked as this worker's before anything can fail, so that a job is never lost.
    running.store(run.next->fetch_add(1));
    const int32_t index = running.load();
    if (index >= run.count) break;
    const std::string result = job(index);
    const int64_t lost = written_out();
    std::fflush(stderr);
    const Report report{index,
                        static_cast<uint32_t>(result.size()),
                        answered,
                        lseek(STDOUT_FILENO, 0, SEEK_CUR),
                        lseek(STDERR_FILENO, 0, SEEK_CUR),
                        lost};
    if (write(answers, result.data(), result.size()) != static_cast<ssize_t>(result.size()) ||
        !send_all(link, &report, sizeof report))
      _exit(1);
    answered += static_cast<int64_t>(result.size());
  }
  running.store(-1);
  _exit(0);
}

// Starts a process for worker k; false when no socket or process could be had.
bool start_worker(Run& run, size_t k, const JobFunction& job) {
  Worker& w = run.workers[k];
  if (!open_link(w)) return false;
  run.running[k].store(-1);
  // Nothing buffered here may be written twice, once by each process.
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) {
    const int error = errno;
    close_links(w);
    errno = error;
    return false;
  }
  if (pid == 0) {
    // The other workers' descriptors are theirs: a copy here would hold their sockets
    // open and take room under the open-file limit.
    close(w.link);
    for (size_t other = 0; other < run.workers.size(); ++other) {
      const Worker& o = run.workers[other];
      if (other == k) continue;
      for (const int link : {o.link, o.child_link})
        if (link >= 0) close(link);
      for (std::FILE* f : {o.out, o.err, o.answers})
        if (f) close(fileno(f));
    }
    work(run, k, w.child_link, job);
  }
  close(w.child_link);
  w.child_link = -1;
  w.pid = pid;
  return true;
}

// Worker k's process has ended or is to end. A job it took and did not report ends with
// the output written so far and no answer.
void bury(Run& run, size_t k) {
  Worker& w = run.workers[k];
  close_links(w);
  w.inbox.clear();
  int status = 0;
  while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) continue;
  w.pid = -1;
  const int32_t taken = run.running[k].exchange(-1);
  if (taken < 0 || taken >= run.count || run.kept[static_cast<size_t>(taken)].ended) return;
  Kept& j = run.kept[static_cast<size_t>(taken)];
  j = {static_cast<int>(k), w.out_end, size_of(w.out), w.err_end, size_of(w.err), true};
  w.out_end = j.out_to;
  w.err_end = j.err_to;
}

// Reads bytes [from, to) of worker w's answer file into run.answers; false when it cannot.
bool read_answers(Run& run, const Worker& w, int64_t from, int64_t to) {
  run.answers.resize(static_cast<size_t>(to - from));
  size_t done = 0;
  while (done < run.answers.size()) {
    const ssize_t got = pread(fileno(w.answers), run.answers.data() + done,
                              run.answers.size() - done, from + static_cast<int64_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

// Takes the reports worker k has sent so far, or sees that it has ended. Several come in
// at once when this process was not scheduled for a while; their answers lie one after
// the other in the worker's answer file and are read at once.
void receive(Run& run, size_t k) {
  Worker& w = run.workers[k];
  char buffer[sizeof(Report) * 256];
  ssize_t got = 0;
  while ((got = read(w.link, buffer, sizeof buffer)) < 0 && errno == EINTR) continue;
  if (got > 0) w.inbox.append(buffer, static_cast<size_t>(got));
  const size_t whole = w.inbox.size() / sizeof(Report);
  std::vector<Report> reports(whole);
  if (whole > 0) std::memcpy(reports.data(), w.inbox.data(), whole * sizeof(Report));
  w.inbox.erase(0, whole * sizeof(Report));
  bool sound = std::all_of(reports.begin(), reports.end(), [&run](const Report& r) {
    return r.job >= 0 && r.job < run.count && r.size <= largest_answer;
  });
  if (sound && whole > 0) {
    sound = read_answers(run, w, reports.front().answer_at,
                         reports.back().answer_at + reports.back().size);
  }
  for (size_t i = 0; sound && i < whole; ++i) {
    const Report& report = reports[i];
    run.kept[static_cast<size_t>(report.job)] = {
        static_cast<int>(k), w.out_end, report.out_end, w.err_end, report.err_end, true};
    w.out_end = report.out_end;
    w.err_end = report.err_end;
    if (run.lost == 0) run.lost = static_cast<int>(report.lost);
    const auto at = static_cast<size_t>(report.answer_at - reports.front().answer_at);
    (*run.answer)(report.job, std::string_view(run.answers).substr(at, report.size));
  }
  if (got <= 0 || !sound) bury(run, k);
}

// Waits until at least one worker has reported or ended.
void wait_for_one(Run& run) {
  std::vector<pollfd> links;
  std::vector<size_t> which;
  for (size_t k = 0; k < run.workers.size(); ++k) {
    if (run.workers[k].pid < 0) continue;
    links.push_back({run.workers[k].link, POLLIN, 0});
    which.push_back(k);
  }
  if (poll(links.data(), links.size(), -1) < 0) {
    if (errno == EINTR) return;
    receive(run, which[0]);  // cannot poll: wait on one of them
    return;
  }
  for (size_t i = 0; i < links.size(); ++i)
    if (links[i].revents != 0) receive(run, which[i]);
}

// Workers for up to `wanted` jobs at once. All they need is had before the first starts
// to take jobs: where the open-file limit stops that, one more is given back, so that this
// process keeps room to start a worker again or to run a job itself.
void start_workers(Run& run, int wanted, const JobFunction& job) {
  run.workers.reserve(static_cast<size_t>(wanted));
  bool no_files = false;
  while (static_cast<int>(run.workers.size()) < wanted) {
    run.workers.emplace_back();
    Worker& w = run.workers.back();
    w.out = std::tmpfile();
    w.err = w.out ? std::tmpfile() : nullptr;
    w.answers = w.err ? std::tmpfile() : nullptr;
    if (w.answers && open_link(w)) continue;
    no_files = errno == EMFILE || errno == ENFILE;
    close_links(w);
    close_files(w);
    run.workers.pop_back();
    break;
  }
  if (no_files && !run.workers.empty()) {
    close_links(run.workers.back());
    close_files(run.workers.back());
    run.workers.pop_back();
  }
  for (size_t k = 0; k < run.workers.size(); ++k) {
    if (start_worker(run, k, job)) continue;
    // No process to be had: nor for the workers after this one, which have run nothing.
    while (run.workers.size() > k) {
      close_links(run.workers.back());
      close_files(run.workers.back());
      run.workers.pop_back();
    }
  }
}

bool any_alive(const Run& run) {
  return std::any_of(run.workers.begin(), run.workers.end(),
                     [](const Worker& w) { return w.pid > 0; });
}

}  // namespace

int run_ordered_jobs(int count, int jobs, const JobFunction& job, const JobAnswer& answer) {
  Run run;
  run.count = count;
  run.answer = &answer;
  const int wanted = std::min(jobs, count);
  const size_t shared_size = sizeof(SharedNumber) * static_cast<size_t>(1 + wanted);
  void* memory =
      mmap(nullptr, shared_size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (memory != MAP_FAILED) {
    run.next = new (memory) SharedNumber(0);
    run.running = run.next + 1;
    for (int k = 0; k < wanted; ++k) new (run.running + k) SharedNumber(-1);
    start_workers(run, wanted, job);
  }
  // Only now: written before the workers start, each page would be copied on its first
  // write here.
  run.kept.resize(static_cast<size_t>(count));
  int shown = 0;  // jobs whose output has been copied out
  while (shown < count) {
    // Copy out every job whose turn has come and which has ended.
    while (shown < count && run.kept[static_cast<size_t>(shown)].ended) {
      const Kept& j = run.kept[static_cast<size_t>(shown++)];
      if (j.worker < 0) continue;
      const Worker& w = run.workers[static_cast<size_t>(j.worker)];
      const int lost = copy_out(w.out, j.out_from, j.out_to, STDOUT_FILENO);
      if (run.lost == 0) run.lost = lost;
      copy_out(w.err, j.err_from, j.err_to, STDERR_FILENO);
    }
    if (shown == count) break;
    // A worker that ended early, by a fault in a job, is started again while jobs are left.
    for (size_t k = 0; k < run.workers.size(); ++k) {
      if (run.workers[k].pid < 0 && run.next->load() < count) start_worker(run, k, job);
    }
    if (any_alive(run)) {
      wait_for_one(run);
      continue;
    }
    // None to be had: every job before this one has ended and been shown, and nobody runs
    // it, so it runs here, still in its turn.
    if (run.next && run.next->load() <= shown) run.next->store(shown + 1);
    const std::string result = job(shown);
    const int lost = written_out();
    if (run.lost == 0) run.lost = lost;
    std::fflush(stderr);
    run.kept[static_cast<size_t>(shown)].ended = true;
    answer(shown, result);
  }
  for (size_t k = 0; k < run.workers.size(); ++k) {
    if (run.workers[k].pid > 0) bury(run, k);
    close_files(run.workers[k]);
  }
  if (run.next) munmap(memory, shared_size);
  return run.lost;
}

}  // namespace tavrel
