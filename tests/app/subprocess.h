// Runs a program as a child process with its output and error output captured, optionally feeding its
// standard input from a pipe that stays open (a live source) until the child has ended.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace testapp {

struct RunResult {
  int exit_code = -1;  // -1 when the child did not exit normally
  std::string out, err;
  std::chrono::milliseconds elapsed{0};
};

struct LiveInput {
  std::vector<uint8_t> bytes;                     // written to the child's stdin
  std::chrono::milliseconds delay{0};             // before writing
  std::chrono::milliseconds interrupt_after{-1};  // SIGINT this long after writing (-1: never)
  bool close_after_write = false;                 // else the pipe stays open until the child ended
};

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs argv[0] with argv; stdin is /dev/null unless `live` is given.
inline RunResult run(const std::vector<std::string>& argv, const LiveInput* live = nullptr) {
  RunResult result;
  char out_path[] = "/tmp/dsmcc-app-test-out-XXXXXX";
  char err_path[] = "/tmp/dsmcc-app-test-err-XXXXXX";
  const int out_fd = ::mkstemp(out_path), err_fd = ::mkstemp(err_path);
  int in_pipe[2] = {-1, -1};
  ::signal(SIGPIPE, SIG_IGN);  // a child that ends early must not take the test with it
  if (live && ::pipe(in_pipe) != 0) return result;
  const auto started = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(live ? in_pipe[0] : ::open("/dev/null", O_RDONLY), 0);
    if (live) ::close(in_pipe[1]);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    // A registry of the tests' own, so that what a user registered never decides which module loads;
    // a test that registers a module gives a folder of its own.
    const char* own = ::getenv("DSMCC_TEST_CONFIG_HOME_OVERRIDE");
    ::setenv("XDG_CONFIG_HOME", own ? own : DSMCC_TEST_CONFIG_HOME, 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  std::thread feeder;
  if (live) {
    ::close(in_pipe[0]);
    feeder = std::thread([live, fd = in_pipe[1], child] {
      std::this_thread::sleep_for(live->delay);
      for (size_t done = 0; done < live->bytes.size();) {
        const ssize_t n = ::write(fd, live->bytes.data() + done, live->bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      if (live->close_after_write) ::close(fd);
      if (live->interrupt_after.count() < 0) return;
      std::this_thread::sleep_for(live->interrupt_after);
      ::kill(child, SIGINT);
    });
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  result.elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  if (feeder.joinable()) feeder.join();
  if (live && !live->close_after_write) ::close(in_pipe[1]);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  ::close(out_fd);
  ::close(err_fd);
  result.out = slurp(out_path);
  result.err = slurp(err_path);
  std::remove(out_path);
  std::remove(err_path);
  return result;
}

}  // namespace testapp
