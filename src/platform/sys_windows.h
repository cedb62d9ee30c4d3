// POSIX file calls over the Windows wide API (see sys.h). Descriptors are C runtime
// descriptors wrapping a handle opened by CreateFileW with every sharing mode, so that Kestrix's
// own readers never stop another run from reading, writing or renaming. errno is set as POSIX
// would set it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>

// Flags and file types with POSIX's names; the values are the C runtime's where it has them.
#include <fcntl.h>
#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0x01000000
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0x02000000
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0x04000000
#endif
#ifndef O_DIRECTORY
#define O_DIRECTORY 0x08000000
#endif
#define LOCK_SH 1
#define LOCK_EX 2
#define LOCK_NB 4
#define LOCK_UN 8
#ifndef S_IFREG
#define S_IFREG 0x8000
#endif
#ifndef S_IFDIR
#define S_IFDIR 0x4000
#endif
#ifndef S_IFCHR
#define S_IFCHR 0x2000
#endif
#ifndef S_IFLNK
#define S_IFLNK 0xA000
#endif
#ifndef S_IFIFO
#define S_IFIFO 0x1000
#endif
#ifndef S_ISLNK
#define S_ISLNK(m) (((m)&0xF000) == S_IFLNK)
#endif
#ifndef S_ISREG
#define S_ISREG(m) (((m)&0xF000) == 0x8000)
#endif
#ifndef S_ISDIR
#define S_ISDIR(m) (((m)&0xF000) == 0x4000)
#endif
#ifndef W_OK
#define W_OK 2
#endif
#ifndef X_OK
#define X_OK 1
#endif
#ifndef EWOULDBLOCK
#define EWOULDBLOCK EAGAIN
#endif

namespace kestrix::sys {

// The fields Kestrix reads. The device is the volume's serial number and the inode the file
// index, which together name one file as st_dev and st_ino do.
struct Stat {
  uint64_t st_dev = 0, st_ino = 0, st_size = 0, st_nlink = 0;
  unsigned st_mode = 0;
  int64_t modified_ns = 0;
};

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
// errno for a Windows error code.
int ErrnoOf(unsigned long error);
// The handle behind a descriptor.
void* HandleOf(int fd);

int open(const char* path, int flags, int mode = 0666);
int close(int fd);
int64_t pread(int fd, void* buf, size_t n, int64_t pos);
int64_t pwrite(int fd, const void* buf, size_t n, int64_t pos);
int64_t write(int fd, const void* buf, size_t n);
int fsync(int fd);
int ftruncate(int fd, int64_t length);
int fstat(int fd, Stat* st);
int stat(const char* path, Stat* st);
int lstat(const char* path, Stat* st);
int unlink(const char* path);
// Replaces an existing `to`, retrying briefly while another program has it open.
int rename(const char* from, const char* to);
// Only the owner's write bit means something: without it the file is read-only.
int chmod(const char* path, int mode);
int fchmod(int fd, int mode);
int mkdir(const char* path, int mode);
// Every link and junction resolved, as an absolute path with `\`; malloc'd, or null.
char* realpath(const char* path, char* unused);
int access(const char* path, int mode);
// flock over LockFileEx on the whole file: the same per-descriptor sharing and exclusion.
int flock(int fd, int op);
std::FILE* fdopen(int fd, const char* mode);

// One argument of a command line, quoted so that the C runtime's parser of the child reads it
// back unchanged.
std::wstring QuotedArgument(const std::wstring& arg);

}  // namespace kestrix::sys
