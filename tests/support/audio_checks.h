#pragma once
#include <string>
#include <vector>

// Checks of recorded files by standard tools (sox, soxi), for the audio tests.
namespace larkspur::test {

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
