// The shutdown sequence as a whole process: the probe program closes its sheet
// while the receiver waits in a synchronous call into the GUI thread, runs the
// tool's shutdown, and must end with exit code 0 and no sanitizer report, in
// bounded time.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Outcome {
    bool finished = false;
    int exit_code = -1; // -1 when it did not exit normally
    int signal = 0;
    std::string output; // standard output and standard error
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Outcome RunProbe(const std::string& mode, std::chrono::seconds bound)
{
    char path[] = "/tmp/vantoro-shutdown-XXXXXX";
    const int fd = ::mkstemp(path);
    Outcome outcome;
    if (fd < 0)
        return outcome;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fd, STDERR_FILENO);
    std::string program = SHUTDOWN_PROBE;
    std::string argument = mode;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fd);
    if (spawned != 0) {
        outcome.output = "could not start " + program;
        ::unlink(path);
        return outcome;
    }

    // Bounded: a shutdown that hangs is killed and reported as such.
    const auto end = std::chrono::steady_clock::now() + bound;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            outcome.finished = true;
            break;
        }
        if (std::chrono::steady_clock::now() > end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (WIFEXITED(status))
        outcome.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        outcome.signal = WTERMSIG(status);
    outcome.output = ReadFile(path);
    ::unlink(path);
    return outcome;
}

class ShutdownWithACallPending : public ::testing::TestWithParam<const char*> {};

TEST_P(ShutdownWithACallPending, CompletesWithExitCodeZeroAndNoSanitizerReport)
{
    const Outcome outcome = RunProbe(GetParam(), std::chrono::seconds(90));
    ASSERT_TRUE(outcome.finished) << "the shutdown did not complete within 90 s:\n" << outcome.output;
    EXPECT_EQ(outcome.signal, 0) << outcome.output;
    EXPECT_EQ(outcome.exit_code, 0) << outcome.output;
    // The probe saw the call still pending before it closed the sheet.
    EXPECT_NE(outcome.output.find("pending call "), std::string::npos) << outcome.output;
    EXPECT_EQ(outcome.output.find("pending call 0"), std::string::npos) << outcome.output;
    for (const char* report : {"ThreadSanitizer", "AddressSanitizer", "LeakSanitizer", "runtime error"})
        EXPECT_EQ(outcome.output.find(report), std::string::npos) << outcome.output;
}

INSTANTIATE_TEST_SUITE_P(Calls, ShutdownWithACallPending, ::testing::Values("found", "progress", "wan"));

TEST(ShutdownWithoutReceiver, TheSheetOpensAndTheShutdownExitsZero)
{
    const Outcome outcome = RunProbe("nothread", std::chrono::seconds(90));
    ASSERT_TRUE(outcome.finished) << outcome.output;
    EXPECT_EQ(outcome.exit_code, 0) << outcome.output;
    EXPECT_NE(outcome.output.find("shut down without a receiver"), std::string::npos) << outcome.output;
    for (const char* report : {"ThreadSanitizer", "AddressSanitizer", "LeakSanitizer", "runtime error"})
        EXPECT_EQ(outcome.output.find(report), std::string::npos) << outcome.output;
}

} // namespace
