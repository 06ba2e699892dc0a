// Files put in place whole, and their table for sudden stops (see
// atomic_file.h).
#include "pictures/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(int error) { throw std::runtime_error(std::system_category().message(error)); }

// The temporary files in hand, for settleTemporaryFilesNow: a slot is
// claimed, filled, then marked live; a signal handler reads only live ones.
// Lock-free atomics, so that reading them is safe in a handler.
struct Slot {
    std::atomic<int> state{0};  // 0 free, 1 being filled, 2 live
    bool keep = false;
    int fd = -1;
    std::atomic<long long> whole{0};  // bytes appended whole
    char temporary[PATH_MAX] = {};
    char path[PATH_MAX] = {};
};
constexpr int slotCount = 64;
Slot slots[slotCount];

int claimSlot(const std::string& temporary, const std::string& path, bool keep, int fd)
{
    if (temporary.size() >= PATH_MAX || path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < slotCount; ++i) {
        int expected = 0;
        if (!slots[i].state.compare_exchange_strong(expected, 1)) continue;
        Slot& s = slots[i];
        std::memcpy(s.temporary, temporary.c_str(), temporary.size() + 1);
        std::memcpy(s.path, path.c_str(), path.size() + 1);
        s.keep = keep;
        s.fd = fd;
        s.whole.store(0);
        s.state.store(2);
        return i;
    }
    return -1;  // more files in hand than slots: this one is not settled on a sudden stop
}

void releaseSlot(int i)
{
    if (i >= 0) slots[i].state.store(0);
}

}  // namespace

AtomicFile::AtomicFile(const std::string& requested, OnStop onStop) : path(requested)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        if (char* target = ::realpath(path.c_str(), nullptr)) {
            path = target;
            std::free(target);
        }
    }
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) throw std::runtime_error("it is not a regular file");

    // The new file sits in the same folder, so that the rename cannot cross
    // file systems.  A name of our own, made exclusively: two writers never
    // share a temporary file.
    static std::atomic<unsigned> serial{0};
    const auto slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    for (int attempt = 0; fd < 0; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, ".orvane-%ld-%u.tmp", static_cast<long>(::getpid()), serial++);
        temporary = folder + name;
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt > 100)) fail(errno);
    }
    slot = claimSlot(temporary, path, onStop == OnStop::keep, fd);
    if (exists && ::fchmod(fd, info.st_mode & 07777) != 0) {
        const int error = errno;
        abandon();
        fail(error);
    }
}

AtomicFile::~AtomicFile()
{
    if (fd >= 0) abandon();
}

void AtomicFile::abandon() noexcept
{
    releaseSlot(slot);
    slot = -1;
    if (fd >= 0) ::close(fd);
    fd = -1;
    ::unlink(temporary.c_str());
}

void AtomicFile::append(const std::string& bytes)
{
    if (fd < 0) throw std::runtime_error("the file was already closed");
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) fail(errno);
        done += static_cast<std::size_t>(put);
    }
    length += static_cast<long long>(bytes.size());
    if (slot >= 0) slots[slot].whole.store(length);
}

void AtomicFile::commit()
{
    if (fd < 0) throw std::runtime_error("the file was already closed");
    int error = 0;
    // Delayed allocation may report a full disk only here.
    if (::fsync(fd) != 0) error = errno;
    // Out of the table before the descriptor closes, so that a handler
    // never cuts a descriptor number that is being reused.
    releaseSlot(slot);
    slot = -1;
    if (::close(fd) != 0 && !error) error = errno;
    fd = -1;
    if (!error && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error) {
        ::unlink(temporary.c_str());
        fail(error);
    }
}

void settleTemporaryFilesNow() noexcept
{
    for (Slot& s : slots) {
        if (s.state.load() != 2) continue;
        if (s.keep && ::ftruncate(s.fd, static_cast<off_t>(s.whole.load())) == 0 && ::fsync(s.fd) == 0 &&
            ::rename(s.temporary, s.path) == 0)
            continue;
        ::unlink(s.temporary);
    }
}
