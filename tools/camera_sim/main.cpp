// vantoro-camera-sim: virtual cameras for trying the tool without hardware.

#include "tools/camera_sim/camera_simulator.h"
#include "vantoro_version.h"

#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    using namespace vantoro::sim;

    const std::vector<std::string> args(argv + 1, argv + argc);
    const OptionsResult parsed = ParseSimOptions(args);
    if (!parsed.ok()) {
        std::fprintf(stderr, "vantoro-camera-sim: %s\nTry 'vantoro-camera-sim --help'.\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.help) {
        std::fputs(SimUsage().c_str(), stdout);
        return 0;
    }
    if (parsed.version) {
        std::printf("vantoro-camera-sim %s\n", vantoro::kVantoroVersion);
        return 0;
    }

    // Blocked before any thread starts, so every thread inherits the mask and
    // only sigwait below ever sees the signal.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    CameraSimulator simulator(parsed.options);
    if (auto error = simulator.Start()) {
        std::fprintf(stderr, "vantoro-camera-sim: %s\n", error->c_str());
        return 1;
    }
    // Scripts wait for this line before sending.
    std::printf("camera simulator: %d cameras on %s:%u\n", parsed.options.cameras,
                FormatNetAddress(parsed.options.bind_address).c_str(), unsigned(simulator.port()));
    std::fflush(stdout);

    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    simulator.log().Line(std::string("stopping on ") + (signal_number == SIGINT ? "SIGINT" : "SIGTERM"));
    simulator.Stop();
    return 0;
}
