// Whole-file reading with a size cap, atomic writing, and file names shown
// as text; POSIX calls on the names' bytes.
#include "pictures/files.h"

#include "pictures/atomic_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string systemReason(int error) { return std::system_category().message(error); }

[[noreturn]] void fail(int error) { throw std::runtime_error(systemReason(error)); }

// Closes a descriptor when it goes out of scope, unless released first.
struct Descriptor {
    int fd = -1;
    int release()
    {
        const int kept = fd;
        fd = -1;
        return kept;
    }
    ~Descriptor()
    {
        if (fd >= 0) ::close(fd);
    }
};

std::size_t lengthOfValidUtf8(const unsigned char* s, std::size_t left)
{
    const unsigned char c = s[0];
    std::size_t n;
    unsigned char lowest = 0x80, highest = 0xbf;  // bounds of the second byte
    if (c < 0x80) return 1;
    if (c >= 0xc2 && c <= 0xdf) n = 2;
    else if (c >= 0xe0 && c <= 0xef) {
        n = 3;
        if (c == 0xe0) lowest = 0xa0;
        if (c == 0xed) highest = 0x9f;  // no surrogates
    } else if (c >= 0xf0 && c <= 0xf4) {
        n = 4;
        if (c == 0xf0) lowest = 0x90;
        if (c == 0xf4) highest = 0x8f;
    } else
        return 0;
    if (left < n || s[1] < lowest || s[1] > highest) return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (s[i] < 0x80 || s[i] > 0xbf) return 0;
    return n;
}

}  // namespace

std::string readWholeFile(const std::string& path, std::size_t limit, const std::string& limitText)
{
    // Opened without blocking, so that a pipe with no writer cannot hold the
    // run (nor a signal restart the wait); only a regular file is read on.
    // A pipe, a device or a socket has no end to trust: /dev/zero would be
    // read to the limit before it was refused.
    Descriptor file;
    do file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    while (file.fd < 0 && errno == EINTR);
    if (file.fd < 0) fail(errno);
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) fail(errno);
    if (S_ISDIR(info.st_mode)) fail(EISDIR);
    if (!S_ISREG(info.st_mode))
        throw std::runtime_error("it is not a regular file but a pipe, a device or a socket; save what it gives to a "
                                 "file and read that");
    if (static_cast<unsigned long long>(info.st_size) > limit)
        throw std::runtime_error("the file is larger than " + limitText);

    // A regular file's size is a hint only (it may grow while it is read).
    // Pieces are filled one after another, so that nothing is copied while
    // the file is read; one byte past the limit tells.
    std::vector<std::string> pieces;
    std::size_t total = 0;
    std::size_t size = static_cast<std::size_t>(info.st_size) + 1;
    for (bool end = false; !end;) {
        std::string piece(std::min(size, limit + 1 - total), '\0');
        std::size_t have = 0;
        while (have < piece.size()) {
            const ssize_t got = ::read(file.fd, &piece[have], piece.size() - have);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) fail(errno);
            if (got == 0) {
                end = true;
                break;
            }
            have += static_cast<std::size_t>(got);
        }
        piece.resize(have);
        total += have;
        if (total > limit) throw std::runtime_error("the file is larger than " + limitText);
        pieces.push_back(std::move(piece));
        size = 1 << 20;
    }
    if (pieces.size() == 1) return std::move(pieces[0]);
    std::string bytes;
    bytes.reserve(total);
    for (const std::string& piece : pieces) bytes += piece;
    return bytes;
}

std::string readFilePart(const std::string& path, unsigned long long offset, std::size_t count)
{
    Descriptor file;
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return {};
    std::string bytes(count, '\0');
    std::size_t have = 0;
    while (have < count) {
        const ssize_t got = ::pread(file.fd, &bytes[have], count - have, static_cast<off_t>(offset + have));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        have += static_cast<std::size_t>(got);
    }
    bytes.resize(have);
    return bytes;
}

void writeFileAtomically(const std::string& path, const std::string& bytes)
{
    AtomicFile file(path);
    file.append(bytes);
    file.commit();
}

namespace {

// Appends up to `longest` characters of `text` to `shown`: valid UTF-8 as
// it is where keep(first byte, length) says so, every other byte as \xHH.
// Returns how many bytes of `text` it took.
template <class Keep>
std::size_t appendEscaped(std::string& shown, const std::string& text, std::size_t longest, Keep keep)
{
    static const char hex[] = "0123456789ABCDEF";
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t i = 0;
    for (std::size_t characters = 0; i < text.size() && characters < longest; ++characters) {
        const std::size_t n = lengthOfValidUtf8(s + i, text.size() - i);
        if (n > 0 && keep(s[i], n)) {
            shown.append(text, i, n);
            i += n;
        } else {
            shown += "\\x";
            shown += hex[s[i] >> 4];
            shown += hex[s[i] & 15];
            ++i;
        }
    }
    return i;
}

}  // namespace

std::string displayFileName(const std::string& path)
{
    std::string shown;
    appendEscaped(shown, path, path.size(), [](unsigned char, std::size_t) { return true; });
    return shown;
}

std::string quotedExcerpt(const std::string& text, std::size_t longest)
{
    // Control characters, quotes and backslashes escaped too.
    std::string shown = "\"";
    const std::size_t taken = appendEscaped(shown, text, longest, [](unsigned char c, std::size_t n) {
        return n > 1 || (c >= 0x20 && c != 0x7F && c != '"' && c != '\\');
    });
    shown += '"';
    if (taken < text.size()) shown += "...";
    return shown;
}
