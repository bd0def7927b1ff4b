#include "app/format_template.h"

#include "audio/wave_file.h"
#include "platform/message_box.h"
#include "platform/own_file.h"

#include <QFile>
#include <cstdio>
#include <unistd.h>

namespace larkspur {

void WriteFormatTemplate(std::uint16_t channels, std::uint16_t bitsPerSample, std::int32_t sampleRate,
                         const QString& path) {
    // Deleted and written anew, never through a link or into another name's file.
    const int fd = CreateOwnFile(QFile::encodeName(path).toStdString());
    std::FILE* f = fd < 0 ? nullptr : ::fdopen(fd, "wb");
    if (!f) {
        if (fd >= 0) ::close(fd);
        ShowPlainMessage(QStringLiteral("Can   not   Open   File!"));
        return;
    }
    const auto header = WaveHeader({channels, static_cast<std::uint32_t>(sampleRate), bitsPerSample}, 0);
    std::fwrite(header.data(), 1, header.size(), f);
    std::fclose(f);
}

}  // namespace larkspur
