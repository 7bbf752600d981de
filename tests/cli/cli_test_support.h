#pragma once
// Runs the built vantoro program against an in-process camera simulator on
// loopback, each test on ports of its own. The program runs in a session of
// its own, without a terminal, so it can never stop to prompt.

#include "../tools/sim_test_support.h"
#include "link/records.h"
#include "tools/camera_sim/camera_simulator.h"

#include <algorithm>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace vantoro::cli::testing {

using sim::testing::ReadText;
using sim::testing::ScratchDir;

struct RunResult {
    int exit = -1;
    std::string out;
    std::string err;
};

// vantoro started in the background, its output kept for Wait. env: extra
// NAME=VALUE entries; VANTORO_* variables of the caller are dropped. LAN mode
// gets no interface at all, so a test that forgets --wan broadcasts nothing
// onto this machine's networks.
class VantoroProcess {
public:
    // out: where standard output goes instead of a file read back by Wait;
    // in: the file standard input reads (default /dev/null).
    VantoroProcess(std::vector<std::string> args, const std::vector<std::string>& env = {}, const std::string& out = {},
                   const std::string& in = {})
    {
        static int counter = 0;
        out_path_ = out.empty() ? dir_.File("out" + std::to_string(++counter)) : out;
        err_path_ = dir_.File("err" + std::to_string(counter));
        args.insert(args.begin(), VANTORO_PATH);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("VANTORO_", 0) != 0)
                environment.emplace_back(*e);
        environment.emplace_back("VANTORO_INTERFACES=");
        environment.insert(environment.end(), env.begin(), env.end());
        // The journal of changes goes into this run's folder unless the test names one.
        if (std::none_of(env.begin(), env.end(), [](const std::string& e) { return e.rfind("XDG_STATE_HOME=", 0) == 0; }))
            environment.emplace_back("XDG_STATE_HOME=" + dir_.File("state"));
        std::vector<char*> envp;
        for (std::string& e : environment)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, in.empty() ? "/dev/null" : in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out_path_.c_str(), O_WRONLY | O_CREAT | (out.empty() ? O_TRUNC : 0),
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID); // no controlling terminal: no prompt
        if (posix_spawn(&pid_, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    ~VantoroProcess()
    {
        if (pid_ > 0)
            Wait();
    }
    pid_t pid() const { return pid_; }

    RunResult Wait()
    {
        RunResult result;
        if (pid_ > 0) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
            result.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            pid_ = -1;
        }
        if (out_path_.rfind("/dev/", 0) != 0)
            result.out = ReadText(out_path_);
        result.err = ReadText(err_path_);
        return result;
    }

private:
    ScratchDir dir_;
    std::string out_path_, err_path_;
    pid_t pid_ = -1;
};

inline RunResult RunVantoro(std::vector<std::string> args, const std::vector<std::string>& env = {})
{
    return VantoroProcess(std::move(args), env).Wait();
}

inline std::uint16_t FreePort()
{
    sim::testing::UdpEndpoint probe;
    return probe.port();
}

// Simulated cameras at 127.0.0.1 and the options that point vantoro at them.
class SimulatedCameras {
public:
    explicit SimulatedCameras(int cameras, sim::SimOptions o = {})
    {
        o.cameras = cameras;
        o.bind_address = sim::testing::Loopback("127.0.0.1");
        o.port = 0;
        o.reply_port = tool_port_ = FreePort();
        if (o.log_file.empty())
            o.log_file = "/dev/null";
        simulator_ = std::make_unique<sim::CameraSimulator>(o);
        if (auto error = simulator_->Start())
            ADD_FAILURE() << *error;
    }
    ~SimulatedCameras() { simulator_->Stop(); }

    // Common options; short waits, since loopback answers at once.
    std::vector<std::string> Options(int timeout_ms = 500, int retries = 2) const
    {
        return {"--wan", "127.0.0.1", "--wait", "400", "--timeout", std::to_string(timeout_ms), "--retries",
                std::to_string(retries), "--camera-port", std::to_string(simulator_->port()), "--tool-port",
                std::to_string(tool_port_)};
    }
    std::vector<std::string> Command(std::vector<std::string> args, int timeout_ms = 500, int retries = 2) const
    {
        for (std::string& o : Options(timeout_ms, retries))
            args.push_back(std::move(o));
        return args;
    }
    std::vector<sim::VirtualCamera> Cameras() const { return simulator_->Cameras(); }
    // The cameras fall silent: answers not yet sent are dropped.
    void Stop() { simulator_->Stop(); }
    sim::SimCounters Counters() const { return simulator_->Counters(); }

private:
    std::uint16_t tool_port_ = 0;
    std::unique_ptr<sim::CameraSimulator> simulator_;
};

inline const std::vector<std::string> kAdmin = {"VANTORO_PASSWORD=admin"};

// After an apply the camera holds what the tool sent: the expected record
// with the reply code and reply_mode 0 (WAN mode) in its header.
inline void ExpectRecord(const Frame& stored, Frame expected, std::uint32_t reply_code, const char* what)
{
    SetFrameCommand(expected, reply_code);
    SetFrameReplyMode(expected, 0);
    for (std::size_t i = 0; i < kFrameSize; ++i)
        ASSERT_EQ(int(stored[i]), int(expected[i])) << what << " record differs at offset " << i;
}

inline void ExpectRecords(const sim::CameraRecords& stored, const sim::CameraRecords& expected)
{
    ExpectRecord(stored.general, expected.general, CMD_GENERAL_REPLY, "general");
    ExpectRecord(stored.user, expected.user, CMD_USER_REPLY, "user");
    ExpectRecord(stored.domain, expected.domain, CMD_DOMAIN_REPLY, "domain");
}

inline std::string MacArg(int camera) // 1-based, as the simulator numbers from 00:0a:0b:00:00:01
{
    char text[18];
    std::snprintf(text, sizeof text, "00:0a:0b:00:00:%02x", camera);
    return text;
}

} // namespace vantoro::cli::testing
