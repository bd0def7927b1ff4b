#include "audio/mp3/wav2mp3.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressDialog>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "audio/mp3/lame_stream.h"
#include "audio/mp3/mp3_settings.h"
#include "audio/mp3/wav2mp3_input.h"
#include "platform/message_box.h"
#include "platform/own_file.h"

namespace larkspur {
namespace {

using wav2mp3::ByteSource;
using wav2mp3::SampleReader;
using wav2mp3::WaveFileSource;
using wav2mp3::WaveLayout;
using wav2mp3::WaveProblem;

void Complain(const char* text) {
    ShowMessageBox(QStringLiteral("Wav2Mp3 ERROR"), QString::fromLatin1(text), BoxIcon::None);
}

// The MP3 file, created anew when opened (what had its name goes, a link itself and never its
// target).
class Mp3File {
public:
    explicit Mp3File(const QString& path) : path_(QFile::encodeName(path)) {
        const int fd = CreateOwnFile(path_.toStdString());
        file_ = fd < 0 ? nullptr : ::fdopen(fd, "wb");
        if (!file_ && fd >= 0) ::close(fd);
        struct stat st;
        regular_ = file_ && ::fstat(::fileno(file_), &st) == 0 && S_ISREG(st.st_mode);
    }
    ~Mp3File() {
        if (file_) std::fclose(file_);
    }
    Mp3File(const Mp3File&) = delete;
    Mp3File& operator=(const Mp3File&) = delete;

    bool IsOpen() const { return file_ != nullptr; }
    bool Write(const std::uint8_t* bytes, std::uint32_t count) {
        return std::fwrite(bytes, 1, count, file_) == count;
    }
    // Closes the file, keeping what was written.
    void Close() {
        std::fclose(file_);
        file_ = nullptr;
    }
    // Closes the file; false, and the file removed, when its last bytes could not be written out.
    bool Finish() {
        const bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!ok) Remove();
        return ok;
    }
    // Removes the file after a failed write, so that no cut-off MP3 passes for a finished one.
    void Discard() {
        Close();
        Remove();
    }

private:
    void Remove() {
        if (regular_) std::remove(path_.constData());
    }

    QByteArray path_;
    std::FILE* file_;
    bool regular_ = false;
};

// Closes the encoder stream on every way out.
struct StreamCloser {
    HBE_STREAM stream;
    ~StreamCloser() { beCloseStream(stream); }
};

// The modal progress display. It has no cancel: Escape and the close box leave it up.
class ProgressDialog final : public QProgressDialog {
public:
    using QProgressDialog::QProgressDialog;

protected:
    void reject() override {}
    void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

// Shown only when a conversion takes long enough to notice; while it is up, each update also lets
// the windows repaint. Ten updates a second keep them painted without slowing the encoder (each
// paint waits on Qt's drawing threads, which a busy machine schedules late).
class Progress {
public:
    Progress(QWidget* window, std::uint64_t total)
        : dialog_(QStringLiteral("Converting to MP3..."), QString(), 0, kSteps, window),
          total_(total) {
        dialog_.setWindowTitle(QStringLiteral("Wav2Mp3"));
        dialog_.setCancelButton(nullptr);
        dialog_.setWindowModality(Qt::ApplicationModal);
        dialog_.setMinimumDuration(500);
        dialog_.setAutoReset(false);
        dialog_.setValue(0);
        clock_.start();
    }

    void Update(std::uint64_t done) {
        if (clock_.elapsed() < kIntervalMs) return;
        clock_.restart();
        dialog_.setValue(static_cast<int>(done * kSteps / total_));
    }

private:
    static constexpr int kSteps = 1000;
    static constexpr int kIntervalMs = 100;
    ProgressDialog dialog_;
    QElapsedTimer clock_;
    std::uint64_t total_;
};

enum class Outcome { Complete, EncoderFailed, ReadOrWriteFailed };

// The data in chunks of the encoder's size, then the flush. One input and one output buffer serve
// the whole conversion, whatever its length.
Outcome Encode(QWidget* window, HBE_STREAM stream, std::uint32_t chunkValues,
               std::uint32_t bufferSize, ByteSource& wave, const WaveLayout& layout, Mp3File& mp3) {
    std::vector<std::int16_t> input(chunkValues);
    std::vector<std::uint8_t> output(bufferSize);
    SampleReader reader(wave, layout);
    Progress progress(window, layout.dataSize);
    std::uint32_t bytes = 0;
    while (const std::size_t values = reader.Next(input)) {
        if (beEncodeChunk(stream, static_cast<std::uint32_t>(values), input.data(), output.data(),
                          &bytes) != BE_ERR_SUCCESSFUL) {
            return Outcome::EncoderFailed;
        }
        if (!mp3.Write(output.data(), bytes)) return Outcome::ReadOrWriteFailed;
        progress.Update(reader.BytesRead());
    }
    // A read error is not the end of the data: the MP3 would lack its tail.
    if (reader.Failed()) return Outcome::ReadOrWriteFailed;
    if (beDeinitStream(stream, output.data(), &bytes) != BE_ERR_SUCCESSFUL) {
        return Outcome::EncoderFailed;
    }
    return mp3.Write(output.data(), bytes) ? Outcome::Complete : Outcome::ReadOrWriteFailed;
}

}  // namespace

bool Wav2Mp3(QWidget* window, const QString& wavePath, const QString& mp3Path) {
    if (wavePath.isEmpty()) return false;
    WaveFileSource wave(QFile::encodeName(wavePath).toStdString());
    if (!wave.IsOpen()) return false;

    const WaveLayout layout = wav2mp3::ReadWaveLayout(wave);
    switch (layout.problem) {
        case WaveProblem::None: break;
        case WaveProblem::NotWave: Complain("This is not a valid Wave file"); return false;
        case WaveProblem::Compressed: Complain("Cannot handle compressed Wave file"); return false;
        case WaveProblem::UnsupportedRate: Complain("Unsuported sample rate"); return false;
    }

    const BE_CONFIG config = ConverterConfig(layout.samplesPerSecond, layout.channels);
    std::uint32_t chunkValues = 0;
    std::uint32_t bufferSize = 0;
    HBE_STREAM stream = nullptr;
    if (beInitStream(&config, &chunkValues, &bufferSize, &stream) != BE_ERR_SUCCESSFUL) {
        Complain("Cannot perform compression");
        return false;
    }
    const StreamCloser closer{stream};

    // An MP3 file that cannot be created is passed over in silence; encoding without a place to
    // put the result would change nothing, so the conversion ends here.
    Mp3File mp3(mp3Path);
    if (!mp3.IsOpen()) return false;

    const Outcome outcome = Encode(window, stream, chunkValues, bufferSize, wave, layout, mp3);
    if (outcome == Outcome::EncoderFailed) {
        // The frames written so far stay.
        mp3.Close();
        Complain("Cannot perform compression");
        return false;
    }
    if (outcome == Outcome::ReadOrWriteFailed) {
        mp3.Discard();
        return false;
    }
    return mp3.Finish();
}

}  // namespace larkspur
