#pragma once
#include <QProcess>
#include <csignal>
#include <sys/prctl.h>

namespace larkspur::test {

// The process started by `process` is killed when the test that started it ends, however it ends.
inline void DieWithTest(QProcess& process) {
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

}  // namespace larkspur::test
