#include "app/format_template.h"

#include "audio/wave_file.h"
#include "platform/message_box.h"

#include <QFile>
#include <cstdio>

namespace larkspur {

void WriteFormatTemplate(std::uint16_t channels, std::uint16_t bitsPerSample, std::int32_t sampleRate,
                         const QString& path) {
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f) {
        ShowPlainMessage(QStringLiteral("Can   not   Open   File!"));
        return;
    }
    const auto header = WaveHeader({channels, static_cast<std::uint32_t>(sampleRate), bitsPerSample}, 0);
    std::fwrite(header.data(), 1, header.size(), f);
    std::fclose(f);
}

}  // namespace larkspur
