// The program's POSIX services, in one place: what a file name refers to,
// the size of an open input, the temporary file the output is written to
// before it is renamed over the output name, the signal handling around
// that write, and the hint that large memory blocks may use huge pages. The
// rest of the program uses the C++ library alone.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// What a name refers to. A symbolic link as the last part of the name is
// not followed.
enum NameKind {
  NAME_MISSING,  // nothing has that name
  NAME_REGULAR,  // a regular file
  NAME_LINK,     // a symbolic link
  NAME_OTHER,    // a directory, a device, a pipe, or a name that cannot be examined
};

struct NameInfo {
  NameKind kind;
  unsigned permission_bits;  // of a regular file: read, write, execute for owner, group, others
};

NameInfo inspect_name(const std::string& name);

// The target of the symbolic link `name`, as the link holds it.
bool read_link(const std::string& name, std::string* target);

// Whether `name`, links followed, is a regular file.
bool is_regular_file(const std::string& name);

// Whether the user may write the existing file `name`: the check that
// opening it for writing makes.
bool may_write(const std::string& name);

// Whether a file made in `dir` may be renamed over the existing file `name`
// in it. A directory with the sticky bit (/tmp) refuses that unless the
// file or the directory belongs to the user.
bool may_replace(const std::string& dir, const std::string& name);

// The size of an open regular file, or -1 when it is not one (a pipe, a
// terminal, a device).
long long regular_file_size(std::FILE* file);

// A new stream that writes through a copy of the open descriptor
// `descriptor` (its place in the file and its append mode shared), or
// nullptr when the descriptor is not open for writing.
std::FILE* open_descriptor(int descriptor);

// The temporary output file, at most one at a time. create_temp_file makes
// a new file named ".tarvox-" and six letters or digits in `dir` (empty for
// the current directory, otherwise ending in '/') and opens it for writing;
// it gets `permission_bits` when they are not negative, otherwise what a
// new file opened by fopen gets (0666 less the umask). It returns nullptr
// when no file can be made there. While the file exists, SIGINT, SIGTERM
// and SIGHUP remove it and then take their previous course; a signal that
// was ignored stays ignored.
std::FILE* create_temp_file(const std::string& dir, int permission_bits);

// Renames the temporary file, already closed, over `name`; removes it when
// that fails. Afterwards no temporary file exists and the previous signal
// handling is back.
bool rename_temp_file(const std::string& name);

// Removes the temporary file (unless a signal already did) and puts the
// previous signal handling back.
void remove_temp_file();

// While the output is written, SIGXFSZ (a file-size limit) and SIGPIPE (a
// pipe nobody reads) are ignored, so that the write fails with an error
// instead of ending the process. restore_write_signals puts back what was
// there before.
void ignore_write_signals();
void restore_write_signals();

// Tells the kernel it may back the block [p, p + bytes), aligned on a
// huge page, with huge pages: a large model then costs far fewer page
// faults. A hint only.
void advise_huge_pages(void* p, std::size_t bytes);
