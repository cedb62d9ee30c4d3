#include "platform/sys_windows.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace kestrix::sys {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

int ErrnoOf(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_CANNOT_MAKE:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_HANDLE_EOF:
      return 0;
    default:
      return EIO;
  }
}

void* HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

namespace {

int Fail() {
  errno = ErrnoOf(GetLastError());
  return -1;
}

int64_t FromFileTime(const FILETIME& t) {
  const int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  return (ticks - 116444736000000000LL) * 100;  // 100 ns steps since 1601
}

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

int StatOfHandle(HANDLE h, Stat* st) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) {
    // Pipes and consoles have no file information.
    const DWORD type = GetFileType(h);
    if (type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR) {
      *st = Stat{};
      st->st_mode = type == FILE_TYPE_PIPE ? S_IFIFO : S_IFCHR;
      return 0;
    }
    return Fail();
  }
  *st = Stat{};
  st->st_dev = info.dwVolumeSerialNumber;
  st->st_ino = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  st->st_size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  st->st_nlink = info.nNumberOfLinks;
  st->modified_ns = FromFileTime(info.ftLastWriteTime);
  const unsigned perms = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
    st->st_mode = S_IFDIR | perms | 0111;
  else if (GetFileType(h) == FILE_TYPE_DISK)
    st->st_mode = S_IFREG | perms;
  else
    st->st_mode = S_IFCHR;
  return 0;
}

int StatPath(const char* path, Stat* st, bool follow) {
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  HANDLE h = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Fail();
  const int rc = StatOfHandle(h, st);
  if (rc == 0 && !follow) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof(tag)) &&
        IsLink(tag.FileAttributes))
      st->st_mode = S_IFLNK | 0777;
  }
  CloseHandle(h);
  return rc;
}

}  // namespace

int open(const char* path, int flags, int mode) {
  DWORD access = 0;
  switch (flags & (O_RDONLY | O_WRONLY | O_RDWR)) {
    case O_WRONLY:
      access = GENERIC_WRITE;
      break;
    case O_RDWR:
      access = GENERIC_READ | GENERIC_WRITE;
      break;
    default:
      access = GENERIC_READ;
  }
  // A file is cut to nothing once it is open and checked, not by the opening itself: Windows
  // refuses to truncate a hidden file (as wine shows every name that begins with a dot) unless
  // the caller repeats its attributes, and a refused link or folder is then left untouched.
  DWORD disposition = OPEN_EXISTING;
  const bool truncate = (flags & O_TRUNC) && !((flags & O_CREAT) && (flags & O_EXCL));
  if ((flags & O_CREAT) && (flags & O_EXCL))
    disposition = CREATE_NEW;  // fails on any name that exists, a link too
  else if (flags & O_CREAT)
    disposition = OPEN_ALWAYS;
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if ((flags & O_CREAT) && !(mode & 0200)) attributes = FILE_ATTRIBUTE_READONLY;
  DWORD extra = FILE_FLAG_BACKUP_SEMANTICS;  // folders open too, for O_DIRECTORY
  if (flags & O_NOFOLLOW) extra |= FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE h = CreateFileW(Wide(path).c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, attributes | extra, nullptr);
  if (h == INVALID_HANDLE_VALUE) return Fail();
  Stat st;
  bool refused = false;
  int error = 0;
  if (StatOfHandle(h, &st) == 0) {
    if (flags & O_NOFOLLOW) {
      FILE_ATTRIBUTE_TAG_INFO tag{};
      if (GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof(tag)) &&
          IsLink(tag.FileAttributes))
        refused = true, error = ELOOP;
    }
    if (!refused && S_ISDIR(st.st_mode) != ((flags & O_DIRECTORY) != 0))
      refused = true, error = S_ISDIR(st.st_mode) ? EISDIR : ENOTDIR;
  }
  if (!refused && truncate) {
    FILE_END_OF_FILE_INFO end{};
    if (!SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof(end))) {
      const int failed = Fail();
      CloseHandle(h);
      return failed;
    }
  }
  if (refused) {
    CloseHandle(h);
    errno = error;
    return -1;
  }
  const int crt = (flags & (O_WRONLY | O_RDWR)) | _O_BINARY | _O_NOINHERIT;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), crt);
  if (fd < 0) {
    CloseHandle(h);
    errno = EMFILE;
  }
  return fd;
}

int close(int fd) { return _close(fd); }

int64_t pread(int fd, void* buf, size_t n, int64_t pos) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(pos);
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(pos) >> 32);
  DWORD got = 0;
  const DWORD step = static_cast<DWORD>(n > (1u << 30) ? (1u << 30) : n);
  if (!ReadFile(HandleOf(fd), buf, step, &got, &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    return Fail();
  }
  return got;
}

int64_t pwrite(int fd, const void* buf, size_t n, int64_t pos) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(pos);
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(pos) >> 32);
  DWORD put = 0;
  const DWORD step = static_cast<DWORD>(n > (1u << 30) ? (1u << 30) : n);
  if (!WriteFile(HandleOf(fd), buf, step, &put, &at)) return Fail();
  return put;
}

int64_t write(int fd, const void* buf, size_t n) {
  DWORD put = 0;
  const DWORD step = static_cast<DWORD>(n > (1u << 30) ? (1u << 30) : n);
  if (!WriteFile(HandleOf(fd), buf, step, &put, nullptr)) return Fail();
  return put;
}

int fsync(int fd) {
  Stat st;
  // Windows flushes a folder's entries with the files themselves: there is nothing to do.
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) return 0;
  if (FlushFileBuffers(HandleOf(fd))) return 0;
  if (GetLastError() != ERROR_ACCESS_DENIED) return Fail();
  // Windows flushes only through a handle that may write; one opened to read gets a second
  // handle to the same file for the flush.
  HANDLE writer = ReOpenFile(HandleOf(fd), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (writer == INVALID_HANDLE_VALUE) return Fail();
  const bool flushed = FlushFileBuffers(writer);
  const int result = flushed ? 0 : Fail();
  CloseHandle(writer);
  return result;
}

int ftruncate(int fd, int64_t length) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = length;
  return SetFileInformationByHandle(HandleOf(fd), FileEndOfFileInfo, &end, sizeof(end)) ? 0
                                                                                        : Fail();
}

int fstat(int fd, Stat* st) {
  HANDLE h = HandleOf(fd);
  if (h == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return -1;
  }
  return StatOfHandle(h, st);
}

int stat(const char* path, Stat* st) { return StatPath(path, st, true); }

int lstat(const char* path, Stat* st) { return StatPath(path, st, false); }

int unlink(const char* path) {
  const std::wstring wide = Wide(path);
  if (DeleteFileW(wide.c_str())) return 0;
  // A read-only file is removed as POSIX removes it: the folder's permission decides.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
      SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY) &&
      DeleteFileW(wide.c_str()))
    return 0;
  return Fail();
}

int rename(const char* from, const char* to) {
  const std::wstring f = Wide(from), t = Wide(to);
  // A reader of another program (a virus scanner, an indexer) may hold the target for a moment;
  // the replace is tried again for about two seconds before it counts as failed.
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(f.c_str(), t.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return 0;
    const DWORD error = GetLastError();
    if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt >= 40) {
      SetLastError(error);
      return Fail();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

int chmod(const char* path, int mode) {
  const std::wstring wide = Wide(path);
  DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Fail();
  attributes = (mode & 0200) ? attributes & ~FILE_ATTRIBUTE_READONLY
                             : attributes | FILE_ATTRIBUTE_READONLY;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  return SetFileAttributesW(wide.c_str(), attributes) ? 0 : Fail();
}

int fchmod(int fd, int mode) {
  FILE_BASIC_INFO info{};
  HANDLE h = HandleOf(fd);
  if (!GetFileInformationByHandleEx(h, FileBasicInfo, &info, sizeof(info))) return Fail();
  info.FileAttributes = (mode & 0200) ? info.FileAttributes & ~FILE_ATTRIBUTE_READONLY
                                      : info.FileAttributes | FILE_ATTRIBUTE_READONLY;
  // A file opened for writing keeps being writable through this handle.
  return SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof(info)) ? 0 : Fail();
}

int mkdir(const char* path, int) { return CreateDirectoryW(Wide(path).c_str(), nullptr) ? 0 : Fail(); }

char* realpath(const char* path, char*) {
  HANDLE h = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Fail();
    return nullptr;
  }
  std::wstring buf(1024, L'\0');
  DWORD n = GetFinalPathNameByHandleW(h, buf.data(), static_cast<DWORD>(buf.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n >= buf.size()) {
    buf.resize(n + 1);
    n = GetFinalPathNameByHandleW(h, buf.data(), static_cast<DWORD>(buf.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  const DWORD error = GetLastError();
  CloseHandle(h);
  if (n == 0 || n >= buf.size()) {
    SetLastError(error);
    Fail();
    return nullptr;
  }
  buf.resize(n);
  if (buf.compare(0, 8, L"\\\\?\\UNC\\") == 0)
    buf = L"\\\\" + buf.substr(8);
  else if (buf.compare(0, 4, L"\\\\?\\") == 0)
    buf = buf.substr(4);
  // A drive's root keeps its separator; other folders end without one, as POSIX's do.
  if (buf.size() > 3 && buf.back() == L'\\') buf.pop_back();
  const std::string out = Utf8(buf);
  return ::_strdup(out.c_str());
}

int access(const char* path, int mode) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Fail();
  // Folders are writable unless the system refuses a file in them, which shows when it is made.
  if ((mode & W_OK) && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
      (attributes & FILE_ATTRIBUTE_READONLY)) {
    errno = EACCES;
    return -1;
  }
  return 0;
}

int flock(int fd, int op) {
  HANDLE h = HandleOf(fd);
  // Windows' locks are not advisory: reads and writes of a locked range through any other
  // handle fail. The lock therefore takes one byte far past any file's end, which every locker
  // of the file agrees on and no read or write ever reaches.
  auto far_byte = [] {
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFE;
    at.OffsetHigh = 0x7FFFFFFF;
    return at;
  };
  OVERLAPPED at = far_byte();
  // A change of kind gives the old lock up first, as flock may.
  UnlockFileEx(h, 0, 1, 0, &at);
  if (op & LOCK_UN) return 0;
  DWORD flags = (op & LOCK_EX) ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (op & LOCK_NB) flags |= LOCKFILE_FAIL_IMMEDIATELY;
  at = far_byte();
  if (LockFileEx(h, flags, 0, 1, 0, &at)) return 0;
  const DWORD error = GetLastError();
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
    errno = EWOULDBLOCK;
    return -1;
  }
  return Fail();
}

std::FILE* fdopen(int fd, const char* mode) { return ::_fdopen(fd, mode); }

// One argument quoted as the C runtime's parser of the child reads it back: backslashes are
// literal except before a quote, where they and the quote are escaped.
std::wstring QuotedArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    if (c == L'"') out.append(slashes * 2 + 1, L'\\');
    else out.append(slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, L'\\');
  return out + L"\"";
}

}  // namespace kestrix::sys
