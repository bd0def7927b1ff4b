#include "support/e2e_support.h"

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

void ProgramCopy::Start(QProcess& program) const {
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    DieWithTest(program);
    program.start(Path("larkspur"), {});
    program.waitForStarted(5000);
}

TonePlayer::TonePlayer() {
    const QString sink = QString::fromLocal8Bit(qgetenv("LARKSPUR_TEST_SINK"));
    const QString tone = dir_.filePath("tone.wav");
    started_ = !sink.isEmpty() && dir_.isValid() &&
               QProcess::execute("sox", {"-n", "-r", "44100", "-c", "2", "-b", "16", tone, "synth", "120", "sine",
                                         "1000", "vol", "0.5"}) == 0;
    if (!started_) return;
    DieWithTest(player_);
    player_.start("paplay", {"--latency-msec=50", "-d", sink, tone});
    started_ = player_.waitForStarted();
}

TonePlayer::~TonePlayer() {
    if (player_.state() == QProcess::NotRunning) return;
    player_.kill();
    player_.waitForFinished(5000);
}

QString Tool(const QString& program, const QStringList& args) {
    QProcess p;
    DieWithTest(p);
    p.start(program, args);
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
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
