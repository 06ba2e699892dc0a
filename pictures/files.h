// Whole files in and out by their names as the system spells them: a name is
// a string of bytes, whatever its encoding, and never passes through a
// character set on its way to the file system.
#pragma once

#include <cstddef>
#include <string>

// The bytes of a regular file, reading at most `limit` of them whatever
// size the file reports.  Throws std::runtime_error with the system's reason
// ("No such file or directory", ...), for a pipe, device or socket (refused
// at once, without waiting on it), or, past the limit, "the file is larger
// than <limitText>".
std::string readWholeFile(const std::string& path, std::size_t limit, const std::string& limitText);

// `count` bytes of a regular file from `offset`, fewer where it ends; empty
// when it cannot be read.
std::string readFilePart(const std::string& path, unsigned long long offset, std::size_t count);

// Replaces (or creates) the file `path` with `bytes`: they go to a new file
// beside it, every write and the final flush to disk are checked, and only
// then is it renamed over the old one.  On failure the temporary file is
// removed, any existing file is untouched, and std::runtime_error gives the
// reason.  A path that names something other than a regular file (a folder,
// a device) is refused; a symbolic link is followed to the file it names.
void writeFileAtomically(const std::string& path, const std::string& bytes);

// A file name as text to show: valid UTF-8 as it is, every other byte as
// \xHH, so that no byte of the name is lost on its way to the screen.
std::string displayFileName(const std::string& path);

// Text from inside a file, quoted in a message: its first `longest`
// characters in double quotes, control characters, quotes, backslashes
// and bytes that are not UTF-8 as \xHH, and "..." after the quotes when
// there was more.  A damaged or hostile file can hold megabytes where a
// name should be, or terminal escape codes: a message shows neither.
std::string quotedExcerpt(const std::string& text, std::size_t longest = 40);
