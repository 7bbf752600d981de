// Runs the built vantoro-camera-sim program itself.

#include "sim_test_support.h"
#include "vantoro_version.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h> // the child's output pipe
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace vantoro::sim {
namespace {

using namespace testing;

// The program with its standard output and error each on a pipe.
class Program {
public:
    explicit Program(std::vector<std::string> args)
    {
        args.insert(args.begin(), VANTORO_CAMERA_SIM_PATH);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Program()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : {out_, err_})
            if (fd >= 0)
                ::close(fd);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return pid_ > 0; }

    // One line of standard output, without its newline; none at end of file or
    // when nothing came within the timeout.
    std::optional<std::string> ReadLine()
    {
        std::string line;
        for (;;) {
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, kReceiveTimeoutMs) != 1)
                return std::nullopt;
            char c;
            if (::read(out_, &c, 1) != 1)
                return std::nullopt;
            if (c == '\n')
                return line;
            line += c;
        }
    }

    // Waits for the exit; the exit status, or -1 when it died of a signal.
    int Wait(std::string* error_text = nullptr)
    {
        std::string text;
        char buffer[256];
        long n;
        while ((n = ::read(err_, buffer, sizeof buffer)) > 0)
            text.append(buffer, std::size_t(n));
        if (error_text)
            *error_text = text;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void Signal(int sig) { ::kill(pid_, sig); }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

TEST(CameraSimProgram, BadOptionsExitNonZeroWithAMessage)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--cameras", "0"}, {"--loss", "7"}, {"--no-ack", "everything"}, {"--bogus"}, {"--port"}};
    for (const auto& args : bad) {
        Program p(args);
        ASSERT_TRUE(p.started());
        std::string error;
        EXPECT_EQ(p.Wait(&error), 2) << args[0];
        EXPECT_NE(error.find(args[0]), std::string::npos) << error;
    }
}

TEST(CameraSimProgram, HelpAndVersionExitZero)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"--help", "usage: vantoro-camera-sim"},
        {"--version", std::string("vantoro-camera-sim ") + kVantoroVersion},
    };
    for (const auto& [option, first_line] : cases) {
        Program p({option});
        ASSERT_TRUE(p.started());
        const auto first = p.ReadLine();
        ASSERT_TRUE(first.has_value()) << option;
        EXPECT_EQ(first->rfind(first_line, 0), 0u) << *first;
        EXPECT_EQ(p.Wait(), 0) << option;
    }
}

TEST(CameraSimProgram, PortInUseExitsNonZero)
{
    UdpEndpoint holder("127.0.0.1");
    ASSERT_TRUE(holder.bound());
    Program p({"--bind", "127.0.0.1", "--port", std::to_string(holder.port())});
    ASSERT_TRUE(p.started());
    std::string error;
    EXPECT_EQ(p.Wait(&error), 1);
    EXPECT_NE(error.find("cannot bind"), std::string::npos) << error;
}

TEST(CameraSimProgram, ServesAfterTheReadyLineAndStopsCleanlyOnSigterm)
{
    UdpEndpoint tool("127.0.0.1");
    ASSERT_TRUE(tool.bound());
    ScratchDir dir;
    Program p({"--cameras", "2", "--bind", "127.0.0.1", "--port", "0", "--reply-port",
               std::to_string(tool.port()), "--log", dir.File("sim.log")});
    ASSERT_TRUE(p.started());
    const auto ready = p.ReadLine();
    ASSERT_TRUE(ready.has_value());
    const std::string prefix = "camera simulator: 2 cameras on 127.0.0.1:";
    ASSERT_EQ(ready->rfind(prefix, 0), 0u) << *ready;
    const int port = std::stoi(ready->substr(prefix.size()));
    ASSERT_GT(port, 0);

    ASSERT_TRUE(SendFrom("127.0.0.1", RequestFrame(CMD_GET_USER), std::uint16_t(port)));
    for (int i = 0; i < 2; ++i) {
        const auto d = tool.Receive();
        ASSERT_TRUE(d.has_value());
        EXPECT_EQ(d->bytes.size(), kFrameSize);
        EXPECT_EQ(FrameCommand(d->frame()), CMD_USER_REPLY);
    }
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(), 0);
    EXPECT_NE(ReadText(dir.File("sim.log")).find("stopping on SIGTERM"), std::string::npos);
}

TEST(CameraSimProgram, StopsCleanlyOnSigint)
{
    Program p({"--bind", "127.0.0.1", "--port", "0"});
    ASSERT_TRUE(p.started());
    ASSERT_TRUE(p.ReadLine().has_value());
    p.Signal(SIGINT);
    EXPECT_EQ(p.Wait(), 0);
}

} // namespace
} // namespace vantoro::sim
