// Runs that share an archive. Every run holds an advisory lock (flock) on the archive file for
// as long as it uses it: readers share it, a writer holds it alone. The kernel drops the lock
// when the process ends, however it ends, so nothing needs cleaning up after a kill.
//
// A writer replaces the archive by renaming a new file over it. Whoever waited on the old file
// would then lock a file that is no longer the archive; so a lock is taken again whenever the
// path has come to name another file meanwhile, and a writer locks each new file it puts in the
// archive's place before the rename (HandOverArchiveLock), so that a run starting after the
// rename still waits for the writer to finish.
//
// Locks within one process are counted by file: a second lock on a file this process already
// holds shares that lock (a write lock asked while a read lock is held exchanges it for the
// time it is held), because two locks of one process on one file would wait for each other.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace kestrix {

enum class LockKind { kRead, kWrite };

class ArchiveLock {
 public:
  // Holds nothing.
  ArchiveLock() = default;
  // Locks `path`. A read lock waits as long as a writer holds the file, telling `waiting` once
  // whom it waits for. A write lock waits at most `write_wait` for the others and then throws
  // IoError naming the run that holds the file. Throws IoError when the file cannot be opened.
  // A negative `write_wait` means DefaultWriteWait(), asked only for a write lock.
  ArchiveLock(const std::string& path, LockKind kind,
              const std::function<void(const std::string&)>& waiting = nullptr,
              std::chrono::milliseconds write_wait = std::chrono::milliseconds(-1));
  ~ArchiveLock();
  ArchiveLock(ArchiveLock&& other) noexcept;
  ArchiveLock& operator=(ArchiveLock&& other) noexcept;
  ArchiveLock(const ArchiveLock&) = delete;
  ArchiveLock& operator=(const ArchiveLock&) = delete;

  bool Held() const { return slot_ >= 0; }
  void Release();

  // How long a writer waits for other runs: KESTRIX_LOCK_WAIT (seconds, digits with an
  // optional fraction such as "2.5", at most a day) when set, else 5 seconds. Throws IoError
  // naming the variable and its value when it is set to anything else.
  static std::chrono::milliseconds DefaultWriteWait();

 private:
  int slot_ = -1;
  bool exchanged_ = false;  // this lock turned the process's read lock into a write lock
};

// Called by the file replacers just before `new_file` is renamed over `target`: when this
// process holds a write lock on `target`, `new_file` is locked too, so that the lock stays on
// the archive's name after the rename.
void HandOverArchiveLock(const std::string& new_file, const std::string& target);

// Who holds a lock on `path`, as "process 1234 (kestrix import a.assets)"; "another run" when
// the system does not say.
std::string DescribeLockHolders(const std::string& path);

}  // namespace kestrix
