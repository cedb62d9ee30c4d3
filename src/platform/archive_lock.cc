#include "platform/archive_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/io_error.h"

namespace kestrix {

namespace {

constexpr std::chrono::milliseconds kPoll(25);

struct FileKey {
  dev_t dev = 0;
  ino_t ino = 0;
  bool operator==(const FileKey& o) const { return dev == o.dev && ino == o.ino; }
};

// One file this process has locked, with the files a writer put in its place since.
struct HeldFile {
  std::vector<std::pair<FileKey, int>> files;  // the first is the file locked first
  LockKind kind = LockKind::kRead;
  int users = 0;
};

std::mutex held_mutex;
std::vector<HeldFile> held;  // slots are reused once their users are gone

bool KeyOfPath(const std::string& path, FileKey* key) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  *key = {st.st_dev, st.st_ino};
  return true;
}

FileKey KeyOfDescriptor(int fd) {
  struct stat st {};
  ::fstat(fd, &st);
  return {st.st_dev, st.st_ino};
}

int FindHeld(const FileKey& key) {
  for (size_t i = 0; i < held.size(); ++i)
    for (const auto& file : held[i].files)
      if (held[i].users > 0 && file.first == key) return static_cast<int>(i);
  return -1;
}

[[noreturn]] void CannotOpen(const std::string& path) {
  throw IoError("Cannot open file " + path + ": " + std::strerror(errno));
}

std::string InUse(const std::string& path) {
  return "The archive " + path + " is in use by " + DescribeLockHolders(path) +
         ". Try again when it has finished.";
}

// Locks the file `path` names when the lock is granted, following renames over it meanwhile.
// Returns the descriptor, or -1 when a write lock was not granted before `deadline`.
int LockPath(const std::string& path, LockKind kind,
             const std::function<void(const std::string&)>& waiting,
             std::chrono::steady_clock::time_point deadline) {
  const int op = kind == LockKind::kWrite ? LOCK_EX : LOCK_SH;
  bool told = false;
  for (;;) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) CannotOpen(path);
    while (::flock(fd, op | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        ::close(fd);
        throw IoError("Cannot lock file " + path + ": " + std::strerror(errno));
      }
      if (kind == LockKind::kWrite && std::chrono::steady_clock::now() >= deadline) {
        ::close(fd);
        return -1;
      }
      if (!told && waiting)
        waiting("Waiting for " + DescribeLockHolders(path) + " to finish with " + path + ".");
      told = true;
      std::this_thread::sleep_for(kPoll);
    }
    // The file may have been replaced while this run waited: then the lock is on a file
    // nobody opens any more, and the new one must be locked instead.
    FileKey now;
    if (KeyOfPath(path, &now) && now == KeyOfDescriptor(fd)) return fd;
    ::close(fd);
  }
}

}  // namespace

std::chrono::milliseconds ArchiveLock::DefaultWriteWait() {
  const char* text = std::getenv("KESTRIX_LOCK_WAIT");
  if (!text) return std::chrono::seconds(5);
  // Plain digits only: strtod would also take "inf", "nan", "1e3", "0x10" and leading blanks,
  // and a wait the user did not mean is worse than a clear refusal.
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
  // A reader never waits on the setting, so a bad one fails writes alone.
  if (kind == LockKind::kWrite && write_wait.count() < 0) write_wait = DefaultWriteWait();
  const auto deadline = std::chrono::steady_clock::now() + write_wait;
  std::unique_lock<std::mutex> guard(held_mutex);
  FileKey key;
  if (!KeyOfPath(path, &key)) CannotOpen(path);
  const int found = FindHeld(key);
  if (found >= 0) {
    HeldFile& h = held[static_cast<size_t>(found)];
    if (kind == LockKind::kWrite && h.kind == LockKind::kRead) {
      // The exchange gives up the read lock before it waits (flock works so); when the write
      // lock is not granted in time, the read lock is taken again.
      const int fd = h.files.front().second;
      bool granted = false;
      while (!(granted = ::flock(fd, LOCK_EX | LOCK_NB) == 0) &&
             std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kPoll);
      if (!granted) {
        ::flock(fd, LOCK_SH);
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
  const int fd = LockPath(path, kind, waiting, deadline);
  if (fd < 0) throw IoError(InUse(path));
  guard.lock();
  HeldFile file;
  file.files.push_back({KeyOfDescriptor(fd), fd});
  file.kind = kind;
  file.users = 1;
  for (size_t i = 0; i < held.size(); ++i) {
    if (held[i].users == 0) {
      held[i] = std::move(file);
      slot_ = static_cast<int>(i);
      return;
    }
  }
  held.push_back(std::move(file));
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
      ::flock(h.files.front().second, LOCK_SH);
      h.kind = LockKind::kRead;
    }
    return;
  }
  for (const auto& file : h.files) ::close(file.second);
  h.files.clear();
}

void HandOverArchiveLock(const std::string& new_file, const std::string& target) {
  std::lock_guard<std::mutex> guard(held_mutex);
  FileKey key;
  if (!KeyOfPath(target, &key)) return;
  const int found = FindHeld(key);
  if (found < 0 || held[static_cast<size_t>(found)].kind != LockKind::kWrite) return;
  const int fd = ::open(new_file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  // Nobody else knows the new file yet, so this cannot wait.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  held[static_cast<size_t>(found)].files.push_back({KeyOfDescriptor(fd), fd});
}

std::string DescribeLockHolders(const std::string& path) {
  FileKey key;
  if (!KeyOfPath(path, &key)) return "another run";
  // Lines of /proc/locks: "1: FLOCK  ADVISORY  WRITE 1234 08:02:5678 0 EOF"; a waiting
  // request has "->" after the number.
  std::ifstream locks("/proc/locks");
  std::string line;
  std::vector<long> pids;
  while (std::getline(locks, line)) {
    std::istringstream in(line);
    std::string number, type, advisory, mode, device;
    long pid = 0;
    in >> number >> type;
    if (type == "->") continue;
    in >> advisory >> mode >> pid >> device;
    unsigned major_id = 0, minor_id = 0;
    unsigned long long inode = 0;
    if (type != "FLOCK" ||
        std::sscanf(device.c_str(), "%x:%x:%llu", &major_id, &minor_id, &inode) != 3)
      continue;
    if (inode != key.ino || pid == ::getpid()) continue;
    if (major_id != major(key.dev) || minor_id != minor(key.dev)) continue;
    bool seen = false;
    for (long p : pids) seen = seen || p == pid;
    if (!seen) pids.push_back(pid);
  }
  if (pids.empty()) return "another run";
  std::string out;
  for (long pid : pids) {
    if (!out.empty()) out += ", ";
    out += "process " + std::to_string(pid);
    std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string words((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    while (!words.empty() && words.back() == '\0') words.pop_back();
    for (char& c : words)
      if (c == '\0') c = ' ';
    if (words.size() > 160) words = words.substr(0, 157) + "...";
    if (!words.empty()) out += " (" + words + ")";
  }
  return out;
}

}  // namespace kestrix
