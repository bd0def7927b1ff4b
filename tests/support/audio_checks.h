#pragma once
#include <string>
#include <vector>

// Checks of recorded files by standard tools (sox, soxi) and the processes around them (players,
// sound servers), for the audio tests and the device benchmark.
namespace larkspur::test {

// A child process started without a shell, killed and reaped when it goes out of scope. The
// environment entries ("NAME=value") come before the inherited ones; the descriptors, when given,
// become its standard output and error.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                   int stdoutFd = -1, int stderrFd = -1);
    ~Child() { Kill(9); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    int Pid() const { return pid_; }
    void Signal(int sig) const;
    // Sends the signal (also to a stopped child) and reaps it.
    void Kill(int sig);

private:
    int pid_ = -1;
};

// Waits until a sink's monitor delivers data: a null sink that has just been created or left idle
// sleeps in blocks of up to 2 s before a low-latency stream takes effect.
bool WaitUntilAwake(const std::string& sink, const std::vector<std::string>& env = {});

// Runs argv without a shell; returns its standard output and error, and its exit status.
struct CommandResult {
    int status = -1;
    std::string output;
};
CommandResult RunCommand(const std::vector<std::string>& argv);

// What soxi reads from a file's header; valid is false when soxi cannot open it.
struct SoxInfo {
    bool valid = false;
    int channels = 0;
    int rate = 0;
    int bits = 0;
    long long samples = 0;  // sample frames
    std::string encoding;
};
SoxInfo ReadSoxInfo(const std::string& path);

// sox's "stat" over the first channel of [start, start + length) seconds.
struct SoxStat {
    bool valid = false;
    double rms = 0;
    double maximum = 0;
    double frequency = 0;
};
SoxStat ReadSoxStat(const std::string& path, double start, double length);

}  // namespace larkspur::test
