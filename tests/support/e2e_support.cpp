#include "support/e2e_support.h"

#include "support/audio_checks.h"
#include "support/dies_with_test.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace larkspur::test {

ProgramCopy::ProgramCopy(const QStringList& files) {
    const QDir out(QString::fromLocal8Bit(qgetenv("LARKSPUR_OUT_DIR")));
    valid_ = dir_.isValid();
    for (const QString& f : files) {
        valid_ = valid_ && QDir().mkpath(QFileInfo(Path(f)).path()) && QFile::copy(out.filePath(f), Path(f));
    }
}

void ProgramCopy::Write(const QString& name, const QByteArray& bytes) const {
    QFile file(Path(name));
    if (file.open(QIODevice::WriteOnly)) file.write(bytes);
}

void ProgramCopy::Start(QProcess& program, const QStringList& arguments, const QStringList& launcher) const {
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    DieWithTest(program);
    if (launcher.isEmpty())
        program.start(Path("larkspur"), arguments);
    else
        program.start(launcher.first(), launcher.mid(1) + QStringList{Path("larkspur")} + arguments);
    program.waitForStarted(5000);
}

QString Tool(const QString& program, const QStringList& args) {
    std::vector<std::string> argv{program.toStdString()};
    for (const QString& a : args) argv.push_back(a.toStdString());
    return QString::fromStdString(RunCommand(argv, std::chrono::seconds(10), false).output).trimmed();
}

QStringList WaitForProgramWindows(int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const QStringList windows =
            Tool("xdotool", {"search", "--onlyvisible", "--class", "^Kestrel Audio Recorder$"})
                .split('\n', Qt::SkipEmptyParts);
        if (!windows.isEmpty() || clock.elapsed() >= timeoutMs) return windows;
        QThread::msleep(50);
    }
}

}  // namespace larkspur::test
