#include "tests/support/audio_checks.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace larkspur::test {

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             int stdoutFd, int stderrFd) {
    std::vector<std::string> environment(env);
    for (char** e = environ; *e; ++e) environment.emplace_back(*e);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, 2);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0) pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
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

CommandResult RunCommand(const std::vector<std::string>& argv) {
    CommandResult result;
    int out[2];
    if (pipe(out) != 0) return result;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) result.output.append(buffer, n);
    close(out[0]);
    int status = 0;
    if (spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
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

}  // namespace larkspur::test
