#include "platform/temporaries.h"

#ifndef _WIN32
#include <pthread.h>
#endif
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <unordered_map>
#include <vector>

#include "platform/paths.h"
#include "platform/sys.h"

namespace kestrix {

namespace {

// ---- The list the signal handler reads ----
//
// The handler may run in any thread at any moment, so it reads only slots of fixed blocks that
// are never freed. A slot's state moves Free -> Filling -> Listed -> Free under the registry's
// mutex; the handler takes a Listed slot for good (Taken) before it reads the path, so that no
// thread frees or reuses the path while the handler unlinks it.

enum SlotState : int { kFree, kFilling, kListed, kTaken };

struct Slot {
  std::atomic<int> state{kFree};
  char* path = nullptr;
};

struct Block {
  Slot slots[64];
  std::atomic<Block*> next{nullptr};
};

Block first_block;

std::atomic<int> held_count{0};
std::atomic<int> pending_signal{0};
std::atomic<bool> ending{false};

void UnlinkListed() {
  for (Block* b = &first_block; b; b = b->next.load(std::memory_order_acquire)) {
    for (Slot& slot : b->slots) {
      int listed = kListed;
      if (slot.state.compare_exchange_strong(listed, kTaken)) sys::unlink(slot.path);
    }
  }
}

// Removes the listed files and ends the run by `sig` with its default action, so that the
// parent sees the signal. Async-signal-safe. Returns only when another thread already ends it.
void EndRun(int sig) {
  if (ending.exchange(true)) return;
  UnlinkListed();
#ifdef _WIN32
  // The C runtime runs the handler on a thread of its own, from the console's Ctrl+C or Ctrl+Break:
  // there is no default action to hand the signal to, so the run ends with the shell's status.
  std::_Exit(128 + sig);
#else
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(sig, &fallback, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  // Inside the handler the signal is blocked; unblocked, the raised one ends the run at once.
  ::raise(sig);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::_exit(128 + sig);
#endif
}

void OnSignal(int sig) {
  const int saved = errno;
  // Noted before the count is read, and the count is lowered before the note is read (in
  // ~SignalsHeld): one of the two sees the other, so a held signal is never lost.
  pending_signal.store(sig);
  if (held_count.load() == 0) EndRun(sig);
  errno = saved;
}

// ---- The registry, in normal code ----

struct Entry {
  Slot* slot = nullptr;
  int mark = -1;  // the descriptor holding the shared lock
};

std::mutex registry_mutex;

std::unordered_map<std::string, Entry>& Registry() {
  // Never destroyed: temporaries owned by static objects go after it.
  static auto* entries = new std::unordered_map<std::string, Entry>();
  return *entries;
}

Slot* TakeSlot() {
  for (Block* b = &first_block;; b = b->next.load(std::memory_order_acquire)) {
    for (Slot& slot : b->slots) {
      int free = kFree;
      if (slot.state.compare_exchange_strong(free, kFilling)) return &slot;
    }
    if (!b->next.load(std::memory_order_acquire)) b->next.store(new Block());
  }
}

void List(const std::string& path, int mark) {
  std::lock_guard<std::mutex> guard(registry_mutex);
  Entry& entry = Registry()[path];
  if (entry.slot) {
    if (mark >= 0) sys::close(mark);
    return;
  }
  entry.slot = TakeSlot();
  entry.slot->path = new char[path.size() + 1];
  std::memcpy(entry.slot->path, path.c_str(), path.size() + 1);
  entry.slot->state.store(kListed);
  entry.mark = mark;
}

void Unlist(Slot* slot) {
  int listed = kListed;
  // A slot the handler took stays taken: the run is ending.
  if (!slot->state.compare_exchange_strong(listed, kFilling)) return;
  delete[] slot->path;
  slot->path = nullptr;
  slot->state.store(kFree);
}

bool LockShared(int fd) {
  while (sys::flock(fd, LOCK_SH) != 0)
    if (errno != EINTR) return false;
  return true;
}

int OpenMark(const std::string& path) {
  const int fd = sys::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd >= 0) LockShared(fd);
  return fd;
}

// ---- Names ----

bool RandomAt(const std::string& s, size_t at) {
  if (at + 8 > s.size()) return false;
  for (size_t k = at; k < at + 8; ++k)
    if (!((s[k] >= 'a' && s[k] <= 'z') || (s[k] >= '0' && s[k] <= '9'))) return false;
  return true;
}

// `name` ends with `mark` and 8 random characters, with at least one character before them.
bool EndsWithMark(const std::string& name, const std::string& mark) {
  const size_t n = name.size();
  return n > mark.size() + 8 && name.compare(n - 8 - mark.size(), mark.size(), mark) == 0 &&
         RandomAt(name, n - 8);
}

// The name of the file a temporary was made for, "" when `name` has no temporary's form. `cut`
// tells that the temporary's name kept only the first 64 characters of it (ReplacementFile and
// the working file shorten long names).
std::string MadeFor(const std::string& name, bool* cut) {
  *cut = false;
  const size_t n = name.size();
  if (EndsWithMark(name, ".import-")) return name.substr(0, n - 16);
  if (n < 2 || name[0] != '.') return "";
  for (const char* mark : {".blocks-", ".joined-"})
    if (EndsWithMark(name, mark)) return name.substr(1, n - 17);
  std::string made;
  if (EndsWithMark(name, ".new-")) {
    made = name.substr(1, n - 14);
  } else if (n >= 16 && EndsWith(name, ".TEMP") && name[n - 14] == '.' && RandomAt(name, n - 13)) {
    made = name.substr(1, n - 15);
  }
  *cut = made.size() == 64;
  return made;
}

bool IsNewVersionName(const std::string& name) {
  return name.size() > 14 && name[0] == '.' && EndsWithMark(name, ".new-");
}

// One is the start of the other.
bool Agrees(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  return a.compare(0, n, b, 0, n) == 0;
}

// The names of the files of one archive, and of the temporaries made for them.
struct ArchiveNames {
  std::string file;  // as given
  std::string base;  // of a set of pieces: the name without ".split0"; else ""

  bool IsPiece(const std::string& name) const {
    const std::string stem = base + ".split";
    if (base.empty() || name.size() <= stem.size() || name.compare(0, stem.size(), stem) != 0)
      return false;
    for (size_t k = stem.size(); k < name.size(); ++k)
      if (name[k] < '0' || name[k] > '9') return false;
    return true;
  }

  bool IsOwnFile(const std::string& name, bool cut) const {
    if (!cut) return name == file || (!base.empty() && name == base) || IsPiece(name);
    // Only the first 64 characters are known: of an archive file, a piece, or a temporary.
    for (const std::string& root : {file, base}) {
      if (root.empty()) continue;
      for (const std::string& form : {root, "." + root, ".." + root})
        if (Agrees(name, form)) return true;
    }
    return IsPiece(name);
  }

  bool IsTemporary(const std::string& name, int depth = 0) const {
    bool cut = false;
    const std::string made = MadeFor(name, &cut);
    if (made.empty()) return false;
    if (IsOwnFile(made, cut)) return true;
    // A temporary of a temporary: the new version of a working file, say.
    return !cut && depth < 4 && IsTemporary(made, depth + 1);
  }

  // A new piece, which a pending-rename list may still need.
  bool IsNewPiece(const std::string& name) const {
    bool cut = false;
    return EndsWithMark(name, ".new-") && IsPiece(MadeFor(name, &cut));
  }
};

std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) names.push_back(PathText(it->path().filename()));
  return names;
}

bool Exists(const std::string& path) {
  sys::Stat st{};
  return sys::lstat(path.c_str(), &st) == 0;
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != kSep) folder += kSep;
  return folder;
}

void RemoveAbandonedOf(const ArchiveNames& archive, const std::string& folder) {
  const std::vector<std::string> names = NamesIn(folder);
  // While a list of pending renames exists the new pieces it names are the only copy of the
  // archive's new state: the user finishes the renames (the open says how).
  const std::string pending = "." + archive.base + ".split-pending-";
  bool renames_pending = false;
  for (const std::string& name : names)
    renames_pending =
        renames_pending || (!archive.base.empty() && name.compare(0, pending.size(), pending) == 0);
  const std::string journal_mark = ".kestrix-journal";
  for (const std::string& name : names) {
    if (!archive.IsTemporary(name)) continue;
    if (renames_pending && archive.IsNewPiece(name)) continue;
    RemoveIfAbandoned(folder + name);
  }
  // The journal of a temporary that is gone can put nothing back.
  for (const std::string& name : names) {
    if (name.size() <= journal_mark.size() + 1 || name[0] != '.' || !EndsWith(name, journal_mark))
      continue;
    const std::string file = name.substr(1, name.size() - 1 - journal_mark.size());
    if (archive.IsTemporary(file) && !Exists(folder + file)) sys::unlink((folder + name).c_str());
  }
}

}  // namespace

std::string RandomNamePart() {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  std::string part(8, ' ');
  for (char& c : part) c = kChars[random() % (sizeof(kChars) - 1)];
  return part;
}

std::string CreateTemporaryIn(const std::string& folder, const std::string& stem,
                              const std::string& suffix) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::string path = folder + stem + RandomNamePart() + suffix;
    // A signal between the creation and the listing would leave the file behind.
    SignalsHeld held;
    const int fd = sys::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return std::string();
    }
    // Another run's cleanup may have removed the file before the mark was on it (it removes
    // only files it locks alone, and removes them holding that lock, so this lock is granted
    // only after the removal): then another name is tried.
    sys::Stat st{};
    if (LockShared(fd) && sys::fstat(fd, &st) == 0 && st.st_nlink == 0) {
      sys::close(fd);
      continue;
    }
    List(path, fd);
    return path;
  }
  errno = EEXIST;
  return std::string();
}

void AdoptTemporary(const std::string& path, bool mark) { List(path, mark ? OpenMark(path) : -1); }

void RemoveTemporary(const std::string& path) {
  // Removed while still marked, so that no cleanup of another run races for it.
  sys::unlink(path.c_str());
  ForgetTemporary(path);
}

void UnmarkTemporary(const std::string& path) {
  std::lock_guard<std::mutex> guard(registry_mutex);
  auto it = Registry().find(path);
  if (it == Registry().end() || it->second.mark < 0) return;
  sys::close(it->second.mark);
  it->second.mark = -1;
}

void ForgetTemporary(const std::string& path) {
  std::lock_guard<std::mutex> guard(registry_mutex);
  auto it = Registry().find(path);
  if (it == Registry().end()) return;
  Unlist(it->second.slot);
  if (it->second.mark >= 0) sys::close(it->second.mark);
  Registry().erase(it);
}

void RenewTemporaryMark(const std::string& path) {
  std::lock_guard<std::mutex> guard(registry_mutex);
  auto it = Registry().find(path);
  if (it == Registry().end()) return;
  const int mark = OpenMark(path);
  if (it->second.mark >= 0) sys::close(it->second.mark);
  it->second.mark = mark;
}

bool IsTemporary(const std::string& path) {
  std::lock_guard<std::mutex> guard(registry_mutex);
  return Registry().count(path) > 0;
}

void RemoveTemporariesOnSignals() {
#ifdef _WIN32
  for (int sig : {SIGINT, SIGTERM, SIGBREAK}) std::signal(sig, OnSignal);
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGINT, SIGTERM}) {
    struct sigaction before {};
    // A run started with the signal ignored (nohup, a shell's background job) keeps ignoring it.
    if (::sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    ::sigaction(sig, &action, nullptr);
  }
#endif
}

SignalsHeld::SignalsHeld() { held_count.fetch_add(1); }

SignalsHeld::~SignalsHeld() {
  if (held_count.fetch_sub(1) != 1) return;
  const int sig = pending_signal.load();
  if (sig != 0) EndRun(sig);
}

bool RemoveIfAbandoned(const std::string& path) {
  // Neither a link nor a FIFO is followed or waited on.
  const int fd = sys::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  sys::Stat st{};
  sys::Stat now{};
  bool removed = false;
  // Removed holding the exclusive lock: a run that created the file and waits for its mark then
  // finds it gone and takes another name (CreateTemporaryIn).
  if (sys::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && sys::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      sys::lstat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino)
    removed = sys::unlink(path.c_str()) == 0;
  sys::close(fd);
  return removed;
}

void RemoveAbandonedTemporaries(const std::string& archive_path, const std::string& export_folder) {
  ArchiveNames archive;
  archive.file = FileNameOf(archive_path);
  if (AsciiLower(ExtensionOf(archive_path)) == ".split0")
    archive.base = FileNameOf(WithoutExtension(archive_path));
  const std::string folder = FolderOf(archive_path);
  RemoveAbandonedOf(archive, folder);
  // Working and side files go to the system's temporary folder when the archive's folder
  // cannot be written.
  std::error_code ec;
  const std::string temp = WithSeparator(PathText(std::filesystem::temp_directory_path(ec)));
  if (!ec && !temp.empty()) RemoveAbandonedOf(archive, temp);
  if (export_folder.empty()) return;
  const std::string exported = WithSeparator(export_folder);
  for (const std::string& name : NamesIn(exported))
    if (IsNewVersionName(name)) RemoveIfAbandoned(exported + name);
}

}  // namespace kestrix
