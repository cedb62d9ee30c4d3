#include "platform/rollback_journal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/io_error.h"
#include "platform/paths.h"
#include "platform/sys.h"
#include "platform/temporaries.h"

namespace kestrix {

namespace {

constexpr char kMagic[8] = {'K', 'X', 'J', 'O', 'U', 'R', 'N', '1'};
constexpr size_t kHeaderBytes = 24;  // magic, file length, region count
constexpr size_t kChunk = size_t{1} << 20;

std::string Reason() { return std::strerror(errno); }

class Fnv1a {
 public:
  void Add(const uint8_t* p, size_t n) {
    for (size_t k = 0; k < n; ++k) value_ = (value_ ^ p[k]) * 0x100000001B3ull;
  }
  uint64_t Value() const { return value_; }

 private:
  uint64_t value_ = 0xCBF29CE484222325ull;
};

// A descriptor closed on every path.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) sys::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

void ReadExactly(int fd, uint64_t pos, void* dst, size_t n, const std::string& path) {
  uint8_t* p = static_cast<uint8_t*>(dst);
  while (n > 0) {
    const ssize_t done = sys::pread(fd, p, n, static_cast<off_t>(pos));
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) throw IoError("Cannot read file " + path + ": " + Reason());
    if (done == 0) throw IoError("The file " + path + " is shorter than expected.");
    p += done;
    pos += static_cast<uint64_t>(done);
    n -= static_cast<size_t>(done);
  }
}

void WriteExactly(int fd, uint64_t pos, const void* src, size_t n, const std::string& path) {
  const uint8_t* p = static_cast<const uint8_t*>(src);
  while (n > 0) {
    const ssize_t done = sys::pwrite(fd, p, n, static_cast<off_t>(pos));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) throw IoError("Cannot write file " + path + ": " + Reason());
    p += done;
    pos += static_cast<uint64_t>(done);
    n -= static_cast<size_t>(done);
  }
}

void Flush(int fd, const std::string& path) {
  if (sys::fsync(fd) != 0) throw IoError("Cannot flush file " + path + " to the disk: " + Reason());
}

uint64_t LengthOf(int fd, const std::string& path) {
  sys::Stat st{};
  if (sys::fstat(fd, &st) != 0) throw IoError("Cannot read file " + path + ": " + Reason());
  return static_cast<uint64_t>(st.st_size);
}

// Removes the journal and makes the removal durable.
void RemoveJournal(const std::string& journal) {
  if (sys::unlink(journal.c_str()) != 0 && errno != ENOENT)
    throw IoError("Cannot remove " + journal + ": " + Reason());
  ForgetTemporary(journal);
  SyncFolder(FolderOf(journal));
}

// A journal read back: valid only when it ends exactly with a matching checksum.
struct ReadJournal {
  bool complete = false;
  uint64_t file_length = 0;
  struct Saved {
    uint64_t position, length, at;  // `at`: where the old bytes lie in the journal
  };
  std::vector<Saved> regions;
};

ReadJournal Parse(int fd, const std::string& path) {
  ReadJournal out;
  const uint64_t size = LengthOf(fd, path);
  if (size < kHeaderBytes + 8) return out;
  Fnv1a sum;
  uint8_t header[kHeaderBytes];
  ReadExactly(fd, 0, header, kHeaderBytes, path);
  if (std::memcmp(header, kMagic, 8) != 0) return out;
  sum.Add(header, kHeaderBytes);
  const uint64_t file_length = Get64(header + 8, ByteOrder::Little);
  const uint64_t count = Get64(header + 16, ByteOrder::Little);
  uint64_t at = kHeaderBytes;
  std::vector<uint8_t> chunk(kChunk);
  for (uint64_t r = 0; r < count; ++r) {
    uint8_t head[16];
    if (size - at < 16 + 8) return out;
    ReadExactly(fd, at, head, 16, path);
    sum.Add(head, 16);
    at += 16;
    ReadJournal::Saved saved{Get64(head, ByteOrder::Little), Get64(head + 8, ByteOrder::Little),
                             at};
    if (saved.length > size - at - 8) return out;
    if (saved.position > file_length || saved.length > file_length - saved.position) return out;
    for (uint64_t done = 0; done < saved.length;) {
      const size_t step = static_cast<size_t>(std::min<uint64_t>(kChunk, saved.length - done));
      ReadExactly(fd, at + done, chunk.data(), step, path);
      sum.Add(chunk.data(), step);
      done += step;
    }
    at += saved.length;
    out.regions.push_back(saved);
  }
  if (size - at != 8) return out;
  uint8_t stored[8];
  ReadExactly(fd, at, stored, 8, path);
  if (Get64(stored, ByteOrder::Little) != sum.Value()) return out;
  out.complete = true;
  out.file_length = file_length;
  return out;
}

// Copies the saved bytes back over the file and flushes it.
void PutBack(const ReadJournal& journal, int journal_fd, const std::string& journal_path,
             int file_fd, const std::string& file_path) {
  std::vector<uint8_t> chunk(kChunk);
  for (const ReadJournal::Saved& saved : journal.regions) {
    for (uint64_t done = 0; done < saved.length;) {
      const size_t step = static_cast<size_t>(std::min<uint64_t>(kChunk, saved.length - done));
      ReadExactly(journal_fd, saved.at + done, chunk.data(), step, journal_path);
      WriteExactly(file_fd, saved.position + done, chunk.data(), step, file_path);
      done += step;
    }
  }
  Flush(file_fd, file_path);
}

}  // namespace

std::string JournalPathFor(const std::string& file) {
  return FolderOf(file) + "." + FileNameOf(file) + ".kestrix-journal";
}

RollbackJournal::RollbackJournal(const std::string& file, std::vector<JournalRegion> regions)
    : file_(file), journal_(JournalPathFor(file)), regions_(std::move(regions)) {
  fd_ = sys::open(file_.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) throw IoError("Cannot write file " + file_ + ": " + Reason());
  try {
    const uint64_t length = LengthOf(fd_, file_);
    std::sort(regions_.begin(), regions_.end(), [](const JournalRegion& a, const JournalRegion& b) {
      return a.position < b.position;
    });
    for (size_t k = 0; k < regions_.size(); ++k) {
      const JournalRegion& r = regions_[k];
      if (r.position > length || r.length > length - r.position ||
          (k > 0 && r.position < regions_[k - 1].position + regions_[k - 1].length))
        throw IoError("Cannot write file " + file_ + ": the regions to write do not fit it.");
    }

    // Whatever stands at the name goes first (a link only loses itself), and the journal is
    // created new, so that nothing planted there can make it land elsewhere.
    if (sys::unlink(journal_.c_str()) != 0 && errno != ENOENT)
      throw IoError("Cannot create file " + journal_ + ": " + Reason());
    Fd out(sys::open(journal_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (out.get() < 0) throw IoError("Cannot create file " + journal_ + ": " + Reason());
    try {
      Fnv1a sum;
      uint64_t at = 0;
      auto put = [&](const void* data, size_t n) {
        sum.Add(static_cast<const uint8_t*>(data), n);
        WriteExactly(out.get(), at, data, n, journal_);
        at += n;
      };
      uint8_t header[kHeaderBytes];
      std::memcpy(header, kMagic, 8);
      Put64(header + 8, length, ByteOrder::Little);
      Put64(header + 16, regions_.size(), ByteOrder::Little);
      put(header, kHeaderBytes);
      std::vector<uint8_t> chunk(kChunk);
      for (const JournalRegion& r : regions_) {
        uint8_t head[16];
        Put64(head, r.position, ByteOrder::Little);
        Put64(head + 8, r.length, ByteOrder::Little);
        put(head, 16);
        for (uint64_t done = 0; done < r.length;) {
          const size_t step = static_cast<size_t>(std::min<uint64_t>(kChunk, r.length - done));
          ReadExactly(fd_, r.position + done, chunk.data(), step, file_);
          put(chunk.data(), step);
          done += step;
        }
      }
      uint8_t trailer[8];
      Put64(trailer, sum.Value(), ByteOrder::Little);
      WriteExactly(out.get(), at, trailer, 8, journal_);
      Flush(out.get(), journal_);
      // The journal's name must be on the disk before the file changes, or a crash could lose
      // the journal and keep half-written bytes.
      SyncFolder(FolderOf(journal_));
      // The journal of a working file goes with it when a signal ends the run: the file it
      // would put right is removed too. Any other journal stays for the next open.
      if (IsTemporary(file_)) AdoptTemporary(journal_, false);
    } catch (...) {
      sys::unlink(journal_.c_str());
      throw;
    }
  } catch (...) {
    sys::close(fd_);
    throw;
  }
}

RollbackJournal::~RollbackJournal() {
  if (!finished_) {
    try {
      if (written_) {
        RollBack();
      } else {
        RemoveJournal(journal_);
      }
    } catch (const Error&) {
      // The journal stays; the next open of the file puts the old bytes back.
    }
  }
  sys::close(fd_);
}

void RollbackJournal::WriteAt(uint64_t pos, const void* data, size_t n) {
  // Only saved bytes may change: anything else could not be put back.
  const auto inside = std::find_if(regions_.begin(), regions_.end(), [&](const JournalRegion& r) {
    return pos >= r.position && n <= r.length && pos - r.position <= r.length - n;
  });
  if (inside == regions_.end())
    throw IoError("Cannot write " + std::to_string(n) + " bytes at " + std::to_string(pos) +
                  " of " + file_ + ": they were not saved before.");
  written_ = true;
  WriteExactly(fd_, pos, data, n, file_);
}

void RollbackJournal::CopyAt(uint64_t pos, ByteSource& source, uint64_t from, uint64_t n) {
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<uint64_t>(n, kChunk)));
  while (n > 0) {
    const size_t step = static_cast<size_t>(std::min<uint64_t>(n, chunk.size()));
    source.ReadAt(from, chunk.data(), step);
    WriteAt(pos, chunk.data(), step);
    pos += step;
    from += step;
    n -= step;
  }
}

void RollbackJournal::Finish() {
  Flush(fd_, file_);
  RemoveJournal(journal_);
  finished_ = true;
}

void RollbackJournal::RollBack() {
  Fd in(sys::open(journal_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (in.get() < 0) throw IoError("Cannot read file " + journal_ + ": " + Reason());
  const ReadJournal journal = Parse(in.get(), journal_);
  if (!journal.complete) throw IoError("The journal " + journal_ + " changed while in use.");
  PutBack(journal, in.get(), journal_, fd_, file_);
  RemoveJournal(journal_);
}

JournalRecovery RecoverInterruptedWrite(const std::string& file) {
  const std::string journal_path = JournalPathFor(file);
  sys::Stat st{};
  if (sys::lstat(journal_path.c_str(), &st) != 0) {
    if (errno == ENOENT) return JournalRecovery::kNone;
    throw IoError("Cannot read file " + journal_path + ": " + Reason());
  }
  // Journals are only ever created as regular files (never through a link), so a link at the
  // name is none: it is removed, never followed, whether it leads anywhere or not.
  if (S_ISLNK(st.st_mode)) {
    RemoveJournal(journal_path);
    return JournalRecovery::kNone;
  }
  if (!S_ISREG(st.st_mode))
    throw Error("Cannot open " + file + ": " + journal_path +
                " stands where an interrupted import keeps its journal, but it is not a regular "
                "file. Remove it to open the file.");
  Fd in(sys::open(journal_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (in.get() < 0) throw IoError("Cannot read file " + journal_path + ": " + Reason());
  if (sys::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
    throw IoError("Cannot read file " + journal_path + ": it is not a regular file.");
  const ReadJournal journal = Parse(in.get(), journal_path);
  if (!journal.complete) {
    // Cut short while it was written: the file was not touched before it was whole.
    RemoveJournal(journal_path);
    return JournalRecovery::kDiscarded;
  }
  Fd out(sys::open(file.c_str(), O_RDWR | O_CLOEXEC));
  if (out.get() < 0) throw IoError("Cannot write file " + file + ": " + Reason());
  const uint64_t length = LengthOf(out.get(), file);
  if (length != journal.file_length)
    throw Error("Cannot open " + file + ": an interrupted import left " + journal_path +
                " to restore it, but the file has " + std::to_string(length) +
                " bytes instead of the " + std::to_string(journal.file_length) +
                " it had then, so something else changed it since. Both files were left as "
                "they are; remove the journal to open the file as it is.");
  PutBack(journal, in.get(), journal_path, out.get(), file);
  RemoveJournal(journal_path);
  return JournalRecovery::kRolledBack;
}

}  // namespace kestrix
