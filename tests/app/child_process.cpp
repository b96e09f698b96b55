#include "tests/app/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

ChildOutcome RunChild(const std::string& program, const std::vector<std::string>& arguments,
                      std::chrono::milliseconds patience) {
    ChildOutcome outcome;
    int pipe_ends[2];
    if (::pipe2(pipe_ends, O_CLOEXEC) != 0) return outcome;

    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipe_ends[1], STDERR_FILENO);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipe_ends[1]);
    if (pid < 0) {
        ::close(pipe_ends[0]);
        return outcome;
    }
    outcome.started = true;

    // Standard error is read while the child runs, so that a chatty child never blocks on a
    // full pipe; it ends when the child (and whatever inherited the pipe) has closed it.
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            outcome.still_running = ::waitpid(pid, nullptr, WNOHANG) == 0;
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd poll_fd{pipe_ends[0], POLLIN, 0};
        if (::poll(&poll_fd, 1, static_cast<int>(left.count())) <= 0) continue;
        char chunk[4096];
        const ssize_t n = ::read(pipe_ends[0], chunk, sizeof chunk);
        if (n <= 0) break;
        outcome.errors.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(pipe_ends[0]);

    int status = 0;
    if (::waitpid(pid, &status, 0) == pid && !outcome.still_running) {
        outcome.exited = WIFEXITED(status);
        if (outcome.exited) outcome.exit_code = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    }
    return outcome;
}

bool HasSanitizerReport(const std::string& errors) {
    return errors.find("Sanitizer") != std::string::npos ||
           errors.find("runtime error:") != std::string::npos;
}
