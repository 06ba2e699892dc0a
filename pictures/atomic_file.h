// A file written in pieces and put in place whole, and what happens to such
// files when the process is stopped suddenly: the bytes go to a new file
// beside the one named, which replaces it only once everything is written
// and flushed to disk.
#pragma once

#include <string>

class AtomicFile {
public:
    // What a sudden stop (settleTemporaryFilesNow) does with the file.
    enum class OnStop {
        remove,  // the temporary file goes; the named file is as it was
        keep,    // what was appended so far, cut after its last whole append, is put in place
    };
    // Creates the temporary file beside `path` (a symbolic link followed to
    // the file it names).  Throws std::runtime_error with the system's
    // reason, or when `path` names something other than a regular file.
    explicit AtomicFile(const std::string& path, OnStop onStop = OnStop::remove);
    // Removes the temporary file unless it was committed.
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Writes the bytes after those before; std::runtime_error says why not.
    void append(const std::string& bytes);
    // Flushes to disk and renames over the named file; std::runtime_error
    // says why not, the temporary file then removed.
    void commit();

private:
    void abandon() noexcept;
    std::string path, temporary;
    int fd = -1;
    int slot = -1;  // in the table settleTemporaryFilesNow reads
    long long length = 0;
};

// Settles every AtomicFile not yet committed, as its OnStop says; safe to
// call from a signal handler (it only reads a table of fixed size and calls
// ftruncate, rename and unlink), so that a process killed by a second Ctrl-C
// leaves no temporary file behind.
void settleTemporaryFilesNow() noexcept;
