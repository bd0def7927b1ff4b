#include "tests/support/audio_checks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sstream>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace larkspur::test {

namespace {

// Starts argv (searched on PATH) with envp; the child dies with this process, also when this
// process is killed outright. The descriptors, when given, become its standard output and error.
pid_t Spawn(const std::vector<std::string>& argv, char** envp, int stdoutFd, int stderrFd) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;
    // Only async-signal-safe calls from here on: the test may have other threads.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);  // the test ended before the signal was set
    if (stdoutFd >= 0) dup2(stdoutFd, 1);
    if (stderrFd >= 0) dup2(stderrFd, 2);
    execvpe(args[0], args.data(), envp);
    _exit(127);
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             int stdoutFd, int stderrFd) {
    // The given variables replace those inherited: a shell takes the last of two.
    std::vector<std::string> environment(env);
    for (char** e = environ; *e; ++e) {
        const std::string_view entry(*e);
        const auto name = entry.substr(0, entry.find('=') + 1);
        if (std::none_of(env.begin(), env.end(), [&](const std::string& v) { return v.starts_with(name); }))
            environment.emplace_back(entry);
    }
    std::vector<char*> envp;
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const pid_t pid = Spawn(argv, envp.data(), stdoutFd, stderrFd);
    if (pid > 0) pid_ = pid;
}

void Child::Signal(int sig) const {
    if (pid_ > 0) ::kill(pid_, sig);
}

void Child::Kill(int sig) {
    if (pid_ <= 0) return;
    ::kill(pid_, sig);
    ::kill(pid_, SIGCONT);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

TonePlayer::TonePlayer(const std::string& sink, double seconds, const std::vector<std::string>& env,
                       const Tone& sound) {
    char dir[] = "/tmp/larkspur-tone-XXXXXX";
    if (sink.empty() || !mkdtemp(dir)) return;
    dir_ = dir;
    const std::string tone = dir_ + "/tone.wav";
    if (RunCommand({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth",
                    std::to_string(seconds), "sine", std::to_string(sound.frequency), "vol", "0.5"})
            .status != 0)
        return;
    std::vector<std::string> argv{"paplay", "--latency-msec=50", "-d", sink, tone};
    if (!sound.program.empty()) argv.push_back("--property=application.name=" + sound.program);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    player_ = std::make_unique<Child>(argv, env, -1, null);
    close(null);
    if (player_->Pid() <= 0) player_.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the stream is up and playing
}

TonePlayer::~TonePlayer() {
    player_.reset();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
}

ExtraSink::ExtraSink(const std::string& name, bool keepAwake) {
    const auto r = RunCommand({"pactl", "load-module", "module-null-sink", "sink_name=" + name,
                               "sink_properties=device.description=" + name, "rate=44100", "channels=2"});
    module_ = r.status == 0 ? std::atoi(r.output.c_str()) : 0;
    if (!keepAwake) return;
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    keepAlive_ = std::make_unique<Child>(
        std::vector<std::string>{"parec", "--latency-msec=10", "-d", name + ".monitor"},
        std::vector<std::string>{}, null);
    ::close(null);
    if (module_ > 0 && !WaitUntilAwake(name)) Unload();
}

void ExtraSink::Unload() {
    keepAlive_.reset();
    if (module_ > 0) RunCommand({"pactl", "unload-module", std::to_string(module_)});
    module_ = 0;
}

std::string TestSink() {
    const char* sink = std::getenv("LARKSPUR_TEST_SINK");
    return sink ? sink : "";
}

void WriteWaveTemplate(const std::string& path, const WaveFormat& format) {
    const auto header = WaveHeader(format, 0);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(header.data()), header.size());
}

bool WaitUntilAwake(const std::string& sink, const std::vector<std::string>& env) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    Child probe({"parec", "--latency-msec=10", "-d", sink + ".monitor"}, env, out[1]);
    close(out[1]);
    pollfd ready{out[0], POLLIN, 0};
    const bool awake = poll(&ready, 1, 4000) == 1;
    close(out[0]);
    return awake;
}

CommandResult RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         bool withStderr) {
    CommandResult result;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return result;
    const pid_t pid = Spawn(argv, environ, out[1], withStderr ? out[1] : -1);
    close(out[1]);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[4096];
    bool expired = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{out[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, int(left.count())) == 0) {
            expired = true;
            break;
        }
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n <= 0) break;
        result.output.append(buffer, n);
    }
    close(out[0]);
    if (pid <= 0) return result;
    if (expired) kill(pid, SIGKILL);
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && WIFEXITED(status) && !expired)
        result.status = WEXITSTATUS(status);
    return result;
}

SoxInfo ReadSoxInfo(const std::string& path) {
    SoxInfo info;
    const auto field = [&](const char* option) {
        const CommandResult r = RunCommand({"soxi", option, path});
        info.valid = r.status == 0;
        return r.output;
    };
    info.channels = std::atoi(field("-c").c_str());
    if (!info.valid) return info;
    info.rate = std::atoi(field("-r").c_str());
    info.bits = std::atoi(field("-b").c_str());
    info.samples = std::atoll(field("-s").c_str());
    info.encoding = field("-e");
    while (!info.encoding.empty() && info.encoding.back() == '\n') info.encoding.pop_back();
    return info;
}

SoxStat ReadSoxStat(const std::string& path, double start, double length) {
    SoxStat stat;
    const CommandResult r = RunCommand({"sox", path, "-n", "remix", "1", "trim",
                                        std::to_string(start), std::to_string(length), "stat"});
    if (r.status != 0) return stat;
    std::istringstream lines(r.output);
    std::string line;
    int found = 0;
    while (std::getline(lines, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        const std::string name = line.substr(0, colon);
        const double value = std::atof(line.c_str() + colon + 1);
        if (name.starts_with("RMS") && name.find("amplitude") != std::string::npos) {
            stat.rms = value;
            ++found;
        } else if (name.starts_with("Maximum amplitude")) {
            stat.maximum = value;
            ++found;
        } else if (name.starts_with("Rough")) {
            stat.frequency = value;
            ++found;
        }
    }
    stat.valid = found == 3;
    return stat;
}

double ToneLevelDb(const std::string& path, double start, double length, double frequency) {
    const CommandResult r = RunCommand({"sox", path, "-t", "raw", "-e", "floating-point", "-b", "32", "-",
                                        "remix", "1", "trim", std::to_string(start), std::to_string(length)},
                                       std::chrono::seconds(60), false);
    const int rate = ReadSoxInfo(path).rate;
    const std::size_t n = r.output.size() / sizeof(float);
    if (r.status != 0 || rate <= 0 || n < 2) return -200;
    std::vector<float> samples(n);
    std::memcpy(samples.data(), r.output.data(), n * sizeof(float));
    const double w = 2 * M_PI * frequency / rate;
    double s1 = 0, s2 = 0, windowSum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / double(n - 1));
        windowSum += hann;
        const double s0 = samples[i] * hann + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double magnitude = std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2));
    // A sine of amplitude A sums to A * windowSum / 2.
    return 20 * std::log10(std::max(1e-10, 2 * magnitude / windowSum));
}

}  // namespace larkspur::test
