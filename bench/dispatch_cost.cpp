// What one reply costs the receiver as the fleet grows: HandleDatagram on a
// registry already holding N cameras, run on the GUI thread so a new camera's
// camera-found message goes straight into the page (no thread hop), with and
// without a Net Config page listening. A second figure is the hop itself: the
// blocking call from another thread into the GUI thread that every new camera
// pays in the real receiver.
//
//   bench_dispatch_cost [--cameras 10,100,1000,5000] [--repeats 20] [--uniform-list]
//
// No sockets: the frames are handed to the receiver's dispatch directly.

#include "bench/bench_support.h"

#include "link/camera_link.h"
#include "link/link_core.h"
#include "ui/net_config_page.h"
#include "ui/qt_link_windows.h"
#include "ui/sorted_list_box.h"
#include "ui/template_builder.h"
#include "ui/ui_state.h"

#include <QApplication>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <random>
#include <set>
#include <thread>

using namespace vantoro;
using namespace vantoro::bench;

namespace {

constexpr int kCameraList = 1015;
constexpr int kNewPerRepeat = 20; // new cameras timed on top of each prefilled registry
constexpr int kKnownReplies = 30000;
// --uniform-list: the camera list lays its lines out as equal in size, as a
// list of fixed-format lines can; shows what that setting would change.
bool g_uniform_list = false;

[[noreturn]] void Fail(const std::string& why)
{
    std::fprintf(stderr, "bench_dispatch_cost: %s\n", why.c_str());
    std::exit(2);
}

// Distinct random hardware addresses, so new lines land anywhere in the list.
std::vector<MacAddress> RandomMacs(std::size_t count, std::mt19937_64& random)
{
    std::set<MacAddress> seen;
    std::vector<MacAddress> out;
    while (out.size() < count) {
        const std::uint64_t v = random();
        MacAddress mac;
        for (std::size_t i = 0; i < kMacSize; ++i)
            mac[i] = std::uint8_t(v >> (8 * i));
        if (seen.insert(mac).second)
            out.push_back(mac);
    }
    return out;
}

Frame Reply(std::uint32_t command, const MacAddress& mac)
{
    Frame f{};
    SetFrameCommand(f, command);
    SetFrameMac(f, mac);
    return f;
}

enum class Listener { None, Page, PageAndEvents };

const char* ListenerName(Listener l)
{
    switch (l) {
    case Listener::None: return "registry only";
    case Listener::Page: return "page, handler only";
    case Listener::PageAndEvents: return "page + event loop turn";
    }
    return "";
}

// One link with N cameras filed, and a page if asked for; the receiver
// thread is never started.
struct Fixture {
    CameraLink link{bench::OfflinePorts()};
    ui::UiState state{link};
    std::unique_ptr<ui::QtLinkWindows> windows;
    std::unique_ptr<ui::NetConfigPage> page;

    explicit Fixture(bool with_page)
    {
        if (with_page) {
            windows = std::make_unique<ui::QtLinkWindows>(state);
            page = std::make_unique<ui::NetConfigPage>(state);
            page->show();
            if (g_uniform_list)
                ui::Control<ui::SortedListBox>(page.get(), kCameraList)->setUniformItemSizes(true);
            link.SetObserver(windows.get());
        }
    }
    ~Fixture() { link.SetObserver(nullptr); }

    void File(const Frame& f)
    {
        // The receive step as the receiver thread takes it, on this thread.
        if (!LinkInternals::Core(link).receiver.HandleDatagram(f.data(), f.size()))
            Fail("a reply was refused");
    }
};

// Median microseconds per new camera, at a registry (and list) of n.
double NewCameraCost(int n, Listener listener, int repeats, std::mt19937_64& random)
{
    std::vector<double> per_camera;
    for (int r = 0; r < repeats; ++r) {
        Fixture fx(listener != Listener::None);
        const auto macs = RandomMacs(std::size_t(n + kNewPerRepeat), random);
        for (int i = 0; i < n; ++i)
            fx.File(Reply(CMD_GENERAL_REPLY, macs[std::size_t(i)]));
        QCoreApplication::processEvents();
        for (int i = n; i < n + kNewPerRepeat; ++i) {
            const Frame f = Reply(CMD_GENERAL_REPLY, macs[std::size_t(i)]);
            const auto start = Clock::now();
            fx.File(f);
            if (listener == Listener::PageAndEvents)
                QCoreApplication::processEvents();
            per_camera.push_back(MsSince(start) * 1000.0);
        }
        if (fx.page && ui::Control<ui::SortedListBox>(fx.page.get(), kCameraList)->count() != n + kNewPerRepeat)
            Fail("the list does not hold every camera");
    }
    return Median(per_camera);
}

// Median microseconds per reply of a camera already filed.
double KnownReplyCost(int n, Listener listener, int repeats, std::mt19937_64& random)
{
    Fixture fx(listener != Listener::None);
    const auto macs = RandomMacs(std::size_t(n), random);
    for (const MacAddress& mac : macs)
        fx.File(Reply(CMD_GENERAL_REPLY, mac));
    QCoreApplication::processEvents();
    std::vector<Frame> replies;
    const std::uint32_t kinds[] = {CMD_GENERAL_REPLY, CMD_USER_REPLY, CMD_DOMAIN_REPLY};
    std::uniform_int_distribution<std::size_t> pick(0, macs.size() - 1);
    for (int i = 0; i < 1000; ++i)
        replies.push_back(Reply(kinds[i % 3], macs[pick(random)]));
    std::vector<double> per_reply;
    for (int r = 0; r < repeats; ++r) {
        const auto start = Clock::now();
        for (int k = 0; k < kKnownReplies / 1000; ++k)
            for (const Frame& f : replies)
                fx.File(f);
        per_reply.push_back(MsSince(start) * 1000.0 / kKnownReplies);
    }
    if (fx.link.CameraCount() != std::size_t(n))
        Fail("a known camera was filed twice");
    return Median(per_reply);
}

// Median microseconds of one blocking call from a worker thread into the GUI
// thread and back, as the receiver makes for every new camera. The message is
// one the page ignores, so only the hop is timed.
double HopCost(int calls)
{
    CameraLink link(bench::OfflinePorts());
    ui::UiState state(link);
    ui::QtLinkWindows windows(state);
    ui::NetConfigPage page(state);
    page.show();
    QCoreApplication::processEvents();
    std::vector<double> per_call;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < calls; ++i) {
            const auto start = Clock::now();
            windows.SendToWindow(LinkWindow::NetConfigPage, 0);
            per_call.push_back(MsSince(start) * 1000.0);
        }
        done = true;
    });
    while (!done.load())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    worker.join();
    return Median(per_call);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    std::vector<int> sizes{10, 100, 1000, 5000};
    int repeats = 20;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--cameras" && i + 1 < argc) {
            sizes = ParseIntList(argv[++i]);
            if (sizes.empty())
                Fail("--cameras wants a list of positive numbers");
        } else if (arg == "--uniform-list") {
            g_uniform_list = true;
        } else if (arg == "--repeats" && i + 1 < argc) {
            repeats = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "-h" || arg == "--help") {
            std::printf("bench_dispatch_cost [--cameras 10,100,1000,5000] [--repeats 20] [--uniform-list]\n");
            return 0;
        } else {
            Fail("unknown argument " + arg);
        }
    }
    QApplication app(argc, argv);
    std::mt19937_64 random(12345);

    const Listener listeners[] = {Listener::None, Listener::Page, Listener::PageAndEvents};
    std::printf("Microseconds per reply, medians; registry and list prefilled with N cameras in random order%s.\n\n",
                g_uniform_list ? "; camera list with uniform item sizes" : "");
    std::printf("| reply | listener |");
    for (int n : sizes)
        std::printf(" N=%d |", n);
    std::printf(" N=%d / N=%d |\n|---|---|", sizes.back(), sizes.front());
    for (std::size_t i = 0; i <= sizes.size(); ++i)
        std::printf("---:|");
    std::printf("\n");
    for (Listener l : {Listener::None, Listener::Page}) {
        std::vector<double> row;
        for (int n : sizes)
            row.push_back(KnownReplyCost(n, l, repeats, random));
        std::printf("| known camera | %s |", ListenerName(l));
        for (double v : row)
            std::printf(" %.3f |", v);
        std::printf(" %.2f |\n", row.back() / row.front());
        std::fflush(stdout);
    }
    for (Listener l : listeners) {
        std::vector<double> row;
        for (int n : sizes)
            row.push_back(NewCameraCost(n, l, repeats, random));
        std::printf("| new camera | %s |", ListenerName(l));
        for (double v : row)
            std::printf(" %.2f |", v);
        std::printf(" %.2f |\n", row.back() / row.front());
        std::fflush(stdout);
    }
    std::printf("\nBlocking call from another thread into the GUI thread and back (the hop every new camera "
                "pays): median %.1f us over 2000 calls.\n",
                HopCost(2000));
    return 0;
}
