// Start-up benchmark, measured from outside on a real X server and a private sound server:
// start to main window mapped and idle resident memory, each against the floor program (a bare
// Qt Widgets window of the same size with a menu bar), alternating; and Record clicked to the
// first sample on disk against parec started to its first data, on a source that flows.
// Run inside the fixtures: cmake --build <build> --target bench_startup
#include "tests/support/audio_checks.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using larkspur::test::Child;

namespace {

constexpr int kRuns = 5;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Resident memory of a process in MB (its Rss, shared pages included).
double ResidentMb(int pid) {
    std::ifstream rollup("/proc/" + std::to_string(pid) + "/smaps_rollup");
    for (std::string line; std::getline(rollup, line);)
        if (line.rfind("Rss:", 0) == 0) return std::atol(line.c_str() + 4) / 1024.0;
    return 0;
}

// Top-level windows being mapped, seen as the X server tells them.
class RootWatch {
public:
    RootWatch() : display_(XOpenDisplay(nullptr)) {
        if (!display_) {
            std::fprintf(stderr, "no X display\n");
            std::exit(1);
        }
        XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
        XSync(display_, False);
    }
    ~RootWatch() { XCloseDisplay(display_); }

    void Forget() {
        XSync(display_, False);
        while (XPending(display_)) {
            XEvent e;
            XNextEvent(display_, &e);
        }
    }

    // The next top-level window mapped, or 0 after the timeout.
    Window NextMapped(std::chrono::milliseconds timeout) {
        const auto until = Clock::now() + timeout;
        while (Clock::now() < until) {
            while (XPending(display_)) {
                XEvent e;
                XNextEvent(display_, &e);
                if (e.type == MapNotify && !e.xmap.override_redirect) return e.xmap.window;
            }
            pollfd p{ConnectionNumber(display_), POLLIN, 0};
            poll(&p, 1, 10);
        }
        return 0;
    }

    // Clicks the left button at a point of a window (press, then the release that clicks).
    // Returns when the release was sent.
    Clock::time_point Click(Window window, int x, int y) {
        XWindowAttributes a{};
        XGetWindowAttributes(display_, window, &a);
        XTestFakeMotionEvent(display_, -1, a.x + x, a.y + y, 0);
        XTestFakeButtonEvent(display_, 1, True, 0);
        XSync(display_, False);
        const auto at = Clock::now();
        XTestFakeButtonEvent(display_, 1, False, 0);
        XFlush(display_);
        return at;
    }

    int Height(Window window) {
        XWindowAttributes a{};
        XGetWindowAttributes(display_, window, &a);
        return a.height;
    }

private:
    Display* display_;
};

struct Started {
    std::unique_ptr<Child> child;
    Window window = 0;
    double seconds = 0;
};

Started StartAndMap(RootWatch& x, const std::string& program) {
    x.Forget();
    Started s;
    const auto start = Clock::now();
    s.child = std::make_unique<Child>(std::vector<std::string>{program}, std::vector<std::string>{"QT_QPA_PLATFORM=xcb"});
    s.window = x.NextMapped(10s);
    s.seconds = SecondsSince(start);
    if (!s.window) {
        std::fprintf(stderr, "%s mapped no window\n", program.c_str());
        std::exit(1);
    }
    return s;
}

// Seconds until a file holds more than `bytes`, polled every half millisecond; -1 after 5 s.
double UntilLarger(const fs::path& file, std::uintmax_t bytes, Clock::time_point since) {
    while (SecondsSince(since) < 5) {
        std::error_code e;
        if (fs::file_size(file, e) > bytes && !e) return SecondsSince(since);
        std::this_thread::sleep_for(500us);
    }
    return -1;
}

// parec started to its first byte of data on standard output.
double ParecFirstData(const std::string& sink) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const auto start = Clock::now();
    Child parec({"parec", "-d", sink + ".monitor"}, {}, fds[1]);
    close(fds[1]);
    pollfd p{fds[0], POLLIN, 0};
    const double seconds = poll(&p, 1, 5000) == 1 ? SecondsSince(start) : -1;
    close(fds[0]);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: startup_bench PROGRAM_DIR FLOOR_PROGRAM\n");
        return 2;
    }
    const std::string sink = larkspur::test::TestSink();
    if (sink.empty() || !std::getenv("DISPLAY")) {
        std::fprintf(stderr, "runs inside with-fixtures.sh --x --pulseaudio\n");
        return 2;
    }
    char dirTemplate[] = "/tmp/larkspur-startup-bench.XXXXXX";
    const fs::path work = mkdtemp(dirTemplate);
    for (const char* name : {"larkspur", "libkbtap.so", "Web"})
        fs::copy(fs::path(argv[1]) / name, work / name, fs::copy_options::recursive);
    std::ofstream(work / "Config.ini") << "[Audio]\nFormat=0\nRate=0\nSize=0\nTrack=0\n[General]\nPlay=0\nAVIName=0\n";
    const std::string program = (work / "larkspur").string();
    const std::string floor = argv[2];
    RootWatch x;

    std::vector<double> mapped[2], resident[2];
    for (int run = 0; run < kRuns; ++run) {
        for (int which = 0; which < 2; ++which) {
            Started s = StartAndMap(x, which == 0 ? program : floor);
            mapped[which].push_back(s.seconds);
            std::this_thread::sleep_for(2s);
            resident[which].push_back(ResidentMb(s.child->Pid()));
        }
    }
    const double mapLarkspur = Median(mapped[0]), mapFloor = Median(mapped[1]);
    const double rssLarkspur = Median(resident[0]), rssFloor = Median(resident[1]);
    std::printf("start to main window mapped, median of %d:  larkspur %.3f s   floor %.3f s   ratio %.2f  (goal 1.10)\n",
                kRuns, mapLarkspur, mapFloor, mapLarkspur / mapFloor);
    std::printf("resident memory when idle, median of %d:     larkspur %.1f MB   floor %.1f MB   +%.1f MB  (goal +8)\n",
                kRuns, rssLarkspur, rssFloor, rssLarkspur - rssFloor);

    larkspur::test::TonePlayer tone(sink, 600);
    larkspur::test::WaitUntilAwake(sink);
    std::vector<double> record, parec;
    for (int run = 0; run < kRuns; ++run) {
        Started s = StartAndMap(x, program);
        std::this_thread::sleep_for(1s);
        const int toolbarY = x.Height(s.window) - 333;
        const fs::path temp = work / "~temp.wav";
        const auto clicked = x.Click(s.window, 20, toolbarY + 21);
        record.push_back(UntilLarger(temp, 44, clicked));
        std::this_thread::sleep_for(300ms);
        x.Click(s.window, 82 + 20, toolbarY + 21);
        for (int i = 0; i < 500 && fs::exists(temp); ++i) std::this_thread::sleep_for(10ms);
        s.child.reset();
        for (const auto& f : fs::directory_iterator(work))
            if (f.path().extension() == ".wav") fs::remove(f.path());
        parec.push_back(ParecFirstData(sink));
    }
    const double recordMedian = Median(record), parecMedian = Median(parec);
    std::printf("Record clicked to first sample on disk, median of %d:  larkspur %.3f s   parec start to first data %.3f s   ratio %.2f  (goal 1.3)\n",
                kRuns, recordMedian, parecMedian, recordMedian / parecMedian);
    fs::remove_all(work);
    return 0;
}
