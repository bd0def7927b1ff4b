#include "config/ini_file.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace larkspur {

EIniFileException::EIniFileException(const std::string& path)
    : std::runtime_error("Unable to write to " + path) {}

EConvertError::EConvertError(const std::string& text)
    : std::runtime_error("'" + text + "' is not a valid integer value") {}

int StrToInt(std::string_view text) {
    std::string_view digits = text;
    if (digits.starts_with('+')) digits.remove_prefix(1);
    int result = 0;
    const char* end = digits.data() + digits.size();
    const bool signed_twice = digits.size() != text.size() && digits.starts_with('-');
    const auto [ptr, ec] = std::from_chars(digits.data(), end, result, 10);
    if (digits.empty() || signed_twice || ec != std::errc() || ptr != end)
        throw EConvertError(std::string(text));
    return result;
}

namespace {

constexpr std::size_t kMaxValue = 2047;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; };
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// One line of the file: its text without the line break, and where it ends with the break.
struct Line {
    std::string_view text;
    std::size_t end;
};

std::vector<Line> SplitLines(std::string_view data) {
    std::vector<Line> lines;
    // A UTF-8 byte-order mark, as some editors write, is not part of the first line (it stays in
    // the file when the file is rewritten).
    std::size_t begin = data.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (begin < data.size()) {
        // A line ends at LF, CRLF, or a CR alone (old Mac line ends); line ends converted twice
        // ("\r\r\n") are one: no carriage return stays on a value.
        const std::size_t stop = std::min(data.find_first_of("\r\n", begin), data.size());
        std::size_t end = stop;
        while (end < data.size() && data[end] == '\r') ++end;
        if (end < data.size() && data[end] == '\n') ++end;
        lines.push_back({data.substr(begin, stop - begin), end});
        begin = end;
    }
    return lines;
}

std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (!line.starts_with('[')) return std::nullopt;
    line.remove_prefix(1);
    return Trim(line.substr(0, line.find(']')));
}

// Where a key lives in the file, or where it would go.
struct Place {
    bool section_found = false;
    std::size_t section_end = 0;        // end of the section's last non-blank line
    const Line* key_line = nullptr;     // the key's line, when present
    std::size_t equals = 0;             // offset of '=' within key_line->text
};

Place Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Place place;
    bool inside = false;
    for (const Line& line : lines) {
        if (auto name = SectionName(line.text)) {
            if (place.section_found) break;  // only the first section of that name counts
            inside = SameName(*name, section);
            if (inside) {
                place.section_found = true;
                place.section_end = line.end;
            }
            continue;
        }
        if (!inside) continue;
        const std::string_view text = Trim(line.text);
        if (!text.empty()) place.section_end = line.end;
        if (text.empty() || text.starts_with(';')) continue;
        const std::size_t eq = line.text.find('=');
        if (eq != std::string_view::npos && !place.key_line &&
            SameName(Trim(line.text.substr(0, eq)), key)) {
            place.key_line = &line;
            place.equals = eq;
        }
    }
    return place;
}

// The whole file, or nothing when it doesn't exist; false when it exists but can't be read.
bool ReadAll(const std::string& path, std::string& data) {
    data.clear();
    // O_NONBLOCK: a FIFO under that name must not hold the open. Only a regular file is read;
    // anything else (a FIFO, a device such as /dev/zero) reads as empty.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return true;
    }
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return n == 0;
}

bool WriteAll(int fd, std::string_view data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The file a path finally names, following symbolic links so that a link stays a link.
std::filesystem::path FollowLinks(std::filesystem::path path) {
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(path, ec)) break;
        const auto target = std::filesystem::read_symlink(path, ec);
        if (ec) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

enum class Outcome { Written, Failed, NoSibling, RenameRefused };

// Writes a sibling file, fsyncs it and renames it over the target. NoSibling (errno set) when the
// directory takes no new file; RenameRefused when the target may not be replaced (a file
// bind-mounted on its own gives EBUSY, another user's file in a sticky folder EPERM).
Outcome ReplaceBySibling(const std::filesystem::path& target, const struct stat* old,
                         std::string_view data) {
    const auto dir = target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = (dir / ("." + target.filename().string() + "." + std::to_string(::getpid()) + "." +
                       std::to_string(attempt)))
                   .string();
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    old ? (old->st_mode & 07777) : 0666);
        if (fd < 0 && errno != EEXIST) return Outcome::NoSibling;
    }
    if (fd < 0) return Outcome::Failed;
    if (old) {
        // Keep the file's owner and mode; the owner change only works for root, which is fine.
        [[maybe_unused]] int ignored = ::fchown(fd, old->st_uid, old->st_gid);
        ::fchmod(fd, old->st_mode & 07777);
    }
    bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return error == EBUSY || error == EPERM || error == EACCES || error == EXDEV
                   ? Outcome::RenameRefused
                   : Outcome::Failed;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        return Outcome::Failed;
    }
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return Outcome::Written;
}

// Where the file cannot be replaced: rewrite the file itself. The room for the new content is
// reserved before the first byte is overwritten, and the content goes out in one write; should
// that write still fail, the old content is put back.
bool RewriteInPlace(const std::filesystem::path& target, std::string_view old, std::string_view data) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // A file system without fallocate cannot be checked beforehand; the write then tells.
    if (data.size() > old.size() &&
        ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(data.size())) != 0 &&
        errno != EOPNOTSUPP) {
        ::close(fd);
        return false;
    }
    if (!WriteAll(fd, data) || ::ftruncate(fd, static_cast<off_t>(data.size())) != 0) {
        // The old content fitted before: whatever went out of the new is undone.
        if (WriteAll(fd, old) && ::ftruncate(fd, static_cast<off_t>(old.size())) == 0) ::fsync(fd);
        ::close(fd);
        return false;
    }
    const bool ok = ::fsync(fd) == 0;
    return (::close(fd) == 0) && ok;
}

}  // namespace

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view default_value) const {
    std::string data;
    if (!ReadAll(path_, data)) return std::string(default_value);
    const auto lines = SplitLines(data);
    const Place place = Locate(lines, section, key);
    if (!place.key_line) return std::string(default_value);
    std::string_view value = Trim(place.key_line->text.substr(place.equals + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value.substr(0, kMaxValue));
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    // A line break can't be carried by an INI line; it would split the entry.
    for (std::string_view part : {section, key, value})
        if (part.find_first_of("\r\n") != std::string_view::npos) throw EIniFileException(path_);

    const std::filesystem::path target = FollowLinks(path_);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists ? (!S_ISREG(old.st_mode) || ::access(target.c_str(), W_OK) != 0)
               : (errno != ENOENT ||
                  ::access(target.parent_path().empty() ? "." : target.parent_path().c_str(),
                           W_OK | X_OK) != 0))
        throw EIniFileException(path_);

    std::string data;
    if (!ReadAll(target, data)) throw EIniFileException(path_);
    const auto lines = SplitLines(data);
    // New lines follow the file's own line ends: those of its first line.
    const std::size_t first_break = data.find_first_of("\r\n");
    const std::size_t after_crs = data.find_first_not_of('\r', first_break);
    const std::string eol = first_break == std::string::npos || data[first_break] == '\n' ? "\n"
                            : after_crs != std::string::npos && data[after_crs] == '\n'  ? "\r\n"
                                                                                        : "\r";
    const Place place = Locate(lines, section, key);
    std::string updated;
    if (place.key_line) {
        const std::size_t value_begin =
            static_cast<std::size_t>(place.key_line->text.data() - data.data()) + place.equals + 1;
        const std::size_t value_end =
            static_cast<std::size_t>(place.key_line->text.data() - data.data()) +
            place.key_line->text.size();
        updated = data.substr(0, value_begin).append(value).append(data, value_end);
    } else {
        const std::size_t at = place.section_found ? place.section_end : data.size();
        std::string insert = at > 0 && data[at - 1] != '\n' && data[at - 1] != '\r' ? eol : "";
        if (!place.section_found) insert.append("[").append(section).append("]").append(eol);
        insert.append(key).append("=").append(value).append(eol);
        updated = data.substr(0, at).append(insert).append(data, at);
    }

    switch (ReplaceBySibling(target, exists ? &old : nullptr, updated)) {
        case Outcome::Written: return;
        case Outcome::NoSibling:
            if (exists && (errno == EACCES || errno == EPERM) && RewriteInPlace(target, data, updated))
                return;
            break;
        case Outcome::RenameRefused:
            if (exists && RewriteInPlace(target, data, updated)) return;
            break;
        case Outcome::Failed: break;
    }
    throw EIniFileException(path_);
}

}  // namespace larkspur
