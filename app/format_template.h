#pragma once
#include <QString>
#include <cstdint>

namespace larkspur {

// Creates (or truncates) the file at path holding only the format template: a PCM wave header
// with an empty data chunk, which tells the recording device the format to record in. When the
// file cannot be created, says "Can   not   Open   File!"; the caller goes on either way.
void WriteFormatTemplate(std::uint16_t channels, std::uint16_t bitsPerSample, std::int32_t sampleRate,
                         const QString& path);

}  // namespace larkspur
