// Windows: the lock is not on the archive itself but on a lock file beside it,
// "." + the archive's name + ".kestrix-lock", locked with LockFileEx. An archive that a waiting
// run holds open cannot be replaced (the system refuses to rename over a file open elsewhere),
// while a lock file is never renamed: whoever waits on it waits on the archive's name, whatever
// file comes to bear that name. HandOverArchiveLock has therefore nothing to do.
// The last run to let go of a lock file removes it, so that reading a game's folder leaves
// nothing in it. It marks the file for deletion while it holds it alone; the name stays taken
// until every handle to the file is closed, and a run that opens the name meanwhile is refused
// and tries again, so two runs never lock two different files of one name.
// A folder where no lock file can be made (read-only media) falls back to locking the archive.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <io.h>
#include <windows.h>

#include "platform/archive_lock.h"
#include "platform/io_error.h"
#include "platform/paths.h"
#include "platform/sys.h"

namespace kestrix {

namespace {

constexpr std::chrono::milliseconds kPoll(25);

struct FileKey {
  uint64_t dev = 0, ino = 0;
  bool operator==(const FileKey& o) const { return dev == o.dev && ino == o.ino; }
};

struct HeldFile {
  FileKey key;
  int fd = -1;
  LockKind kind = LockKind::kRead;
  int users = 0;
  bool lock_file = false;  // false: the archive itself, which is never removed
};

std::mutex held_mutex;
std::vector<HeldFile> held;

std::string LockFileOf(const std::string& path) {
  return FolderOf(path) + "." + FileNameOf(path) + ".kestrix-lock";
}

[[noreturn]] void CannotOpen(const std::string& path) {
  throw IoError("Cannot open file " + path + ": " + std::strerror(errno));
}

std::string InUse(const std::string& path) {
  return "The archive " + path + " is in use by " + DescribeLockHolders(path) +
         ". Try again when it has finished.";
}

// Opens (or makes, hidden) the lock file of `path`; -1 when there is none to be had.
int OpenLockFileOf(const std::string& path) {
  const std::wstring name = sys::Wide(LockFileOf(path));
  for (int attempt = 0;; ++attempt) {
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      FILE_ATTRIBUTE_TAG_INFO tag{};
      if (!GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof(tag)) ||
          (tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        CloseHandle(h);
        return -1;
      }
      const int fd =
          _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY | _O_NOINHERIT);
      if (fd < 0) CloseHandle(h);
      return fd;
    }
    // A lock file that its last holder is removing refuses to be opened until it is gone:
    // try again for a while. One that is not there could not be made: the folder is read-only.
    if (GetLastError() != ERROR_ACCESS_DENIED || attempt >= 200 ||
        (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES &&
         GetLastError() == ERROR_FILE_NOT_FOUND))
      return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The descriptor whose lock stands for the archive's.
int OpenLockFile(const std::string& path, bool* lock_file) {
  sys::Stat st{};
  if (sys::stat(path.c_str(), &st) != 0) CannotOpen(path);
  int fd = OpenLockFileOf(path);
  *lock_file = fd >= 0;
  if (fd < 0) fd = sys::open(path.c_str(), O_RDONLY);
  if (fd < 0) CannotOpen(path);
  return fd;
}

bool BeingRemoved(int fd) {
  FILE_STANDARD_INFO info{};
  return GetFileInformationByHandleEx(sys::HandleOf(fd), FileStandardInfo, &info, sizeof(info)) &&
         info.DeletePending;
}

// Closes a lock's descriptor; the lock file goes with it when no other run holds it.
void CloseLock(int fd, bool lock_file) {
  if (lock_file && sys::flock(fd, LOCK_EX | LOCK_NB) == 0) {
    FILE_DISPOSITION_INFO remove{};
    remove.DeleteFile = TRUE;
    SetFileInformationByHandle(sys::HandleOf(fd), FileDispositionInfo, &remove, sizeof(remove));
  }
  sys::close(fd);
}

FileKey KeyOf(int fd) {
  sys::Stat st{};
  sys::fstat(fd, &st);
  return {st.st_dev, st.st_ino};
}

int FindHeld(const FileKey& key) {
  for (size_t i = 0; i < held.size(); ++i)
    if (held[i].users > 0 && held[i].key == key) return static_cast<int>(i);
  return -1;
}

// Waits for the lock; false when a write lock was not granted before `deadline`.
bool Lock(int fd, const std::string& path, LockKind kind,
          const std::function<void(const std::string&)>& waiting,
          std::chrono::steady_clock::time_point deadline) {
  const int op = kind == LockKind::kWrite ? LOCK_EX : LOCK_SH;
  // The run that removes the lock file holds it alone for a moment: a wait says so only once it
  // is longer than that.
  const auto tell_after = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
  bool told = false;
  while (sys::flock(fd, op | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK)
      throw IoError("Cannot lock file " + path + ": " + std::strerror(errno));
    const auto now = std::chrono::steady_clock::now();
    if (kind == LockKind::kWrite && now >= deadline) return false;
    if (!told && waiting && now >= tell_after)
      waiting("Waiting for " + DescribeLockHolders(path) + " to finish with " + path + ".");
    told = true;
    std::this_thread::sleep_for(kPoll);
  }
  return true;
}

}  // namespace

std::chrono::milliseconds ArchiveLock::DefaultWriteWait() {
  const char* text = std::getenv("KESTRIX_LOCK_WAIT");
  if (!text) return std::chrono::seconds(5);
  const std::string value = text;
  const size_t point = value.find('.');
  const std::string whole = value.substr(0, point);
  const std::string fraction = point == std::string::npos ? "" : value.substr(point + 1);
  auto digits = [](const std::string& s) {
    return s.find_first_not_of("0123456789") == std::string::npos;
  };
  const bool number = digits(whole) && digits(fraction) && !(whole.empty() && fraction.empty());
  const double seconds = number ? std::strtod(value.c_str(), nullptr) : -1;
  if (!number || seconds > 86400)
    throw IoError("KESTRIX_LOCK_WAIT is \"" + value +
                  "\": it must be the seconds a writer waits for other runs, a number from 0 to "
                  "86400 such as 5 or 0.5.");
  return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

ArchiveLock::ArchiveLock(const std::string& path, LockKind kind,
                         const std::function<void(const std::string&)>& waiting,
                         std::chrono::milliseconds write_wait) {
  if (kind == LockKind::kWrite && write_wait.count() < 0) write_wait = DefaultWriteWait();
  const auto deadline = std::chrono::steady_clock::now() + write_wait;
  std::unique_lock<std::mutex> guard(held_mutex);
  bool lock_file = false;
  int fd = -1;
  FileKey key;
  for (;;) {
    fd = OpenLockFile(path, &lock_file);
    key = KeyOf(fd);
    const int found = FindHeld(key);
    if (found >= 0) {
      sys::close(fd);
      HeldFile& h = held[static_cast<size_t>(found)];
      if (kind == LockKind::kWrite && h.kind == LockKind::kRead) {
        // LockFileEx cannot change a lock's kind: the read lock is given up while the write
        // lock is waited for, and taken again when that is not granted in time.
        bool granted = false;
        while (!(granted = sys::flock(h.fd, LOCK_EX | LOCK_NB) == 0) &&
               std::chrono::steady_clock::now() < deadline)
          std::this_thread::sleep_for(kPoll);
        if (!granted) {
          sys::flock(h.fd, LOCK_SH);
          throw IoError(InUse(path));
        }
        h.kind = LockKind::kWrite;
        exchanged_ = true;
      }
      ++h.users;
      slot_ = found;
      return;
    }
    guard.unlock();
    bool granted = false;
    try {
      granted = Lock(fd, path, kind, waiting, deadline);
    } catch (...) {
      sys::close(fd);
      throw;
    }
    if (!granted) {
      sys::close(fd);
      throw IoError(InUse(path));
    }
    guard.lock();
    if (!lock_file || !BeingRemoved(fd)) break;
    // Granted on a lock file its last holder was removing: the name is to be a new file's.
    sys::close(fd);
  }
  HeldFile file{key, fd, kind, 1, lock_file};
  for (size_t i = 0; i < held.size(); ++i) {
    if (held[i].users == 0) {
      held[i] = file;
      slot_ = static_cast<int>(i);
      return;
    }
  }
  held.push_back(file);
  slot_ = static_cast<int>(held.size() - 1);
}

ArchiveLock::~ArchiveLock() { Release(); }

ArchiveLock::ArchiveLock(ArchiveLock&& other) noexcept
    : slot_(other.slot_), exchanged_(other.exchanged_) {
  other.slot_ = -1;
}

ArchiveLock& ArchiveLock::operator=(ArchiveLock&& other) noexcept {
  if (this != &other) {
    Release();
    slot_ = other.slot_;
    exchanged_ = other.exchanged_;
    other.slot_ = -1;
  }
  return *this;
}

void ArchiveLock::Release() {
  if (slot_ < 0) return;
  std::lock_guard<std::mutex> guard(held_mutex);
  HeldFile& h = held[static_cast<size_t>(slot_)];
  slot_ = -1;
  if (--h.users > 0) {
    if (exchanged_) {
      sys::flock(h.fd, LOCK_SH);
      h.kind = LockKind::kRead;
    }
    return;
  }
  CloseLock(h.fd, h.lock_file);
  h.fd = -1;
}

void HandOverArchiveLock(const std::string&, const std::string&) {}

std::string DescribeLockHolders(const std::string&) {
  // Windows does not say who holds a LockFileEx lock.
  return "another run";
}

}  // namespace kestrix
