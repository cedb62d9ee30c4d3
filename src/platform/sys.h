// The few system calls the file code makes, reached as sys::name. On Linux they are the POSIX
// calls themselves; on Windows (sys_windows.cc) they are built on the wide API, so that UTF-8
// paths reach the system unchanged, files are always binary and links or junctions are told
// apart as POSIX tells symbolic links apart.
#pragma once

#ifdef _WIN32
#include "platform/sys_windows.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace kestrix::sys {

using Stat = struct ::stat;
using ::access;
using ::chmod;
using ::close;
using ::fchmod;
using ::fdopen;
using ::flock;
using ::fstat;
using ::fsync;
using ::ftruncate;
using ::lstat;
using ::mkdir;
using ::open;
using ::pread;
using ::pwrite;
using ::realpath;
using ::rename;
using ::stat;
using ::unlink;
using ::write;

}  // namespace kestrix::sys
#endif
