#include "support/test_env.h"

#ifdef _WIN32
#include <windows.h>
// The tests' own CopyFile, not the system's macro of that name.
#undef CopyFile

#include <random>

#include "platform/sys.h"
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/paths.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace kestrix::testing {

namespace fs = std::filesystem;

void KillSelf() {
#ifdef _WIN32
  TerminateProcess(GetCurrentProcess(), 128 + SIGKILL);
#endif
  std::raise(SIGKILL);
  std::abort();
}

TempDir::TempDir() {
#ifdef _WIN32
  // No mkdtemp: a random name, created only when nothing had it.
  std::random_device random;
  for (int attempt = 0; attempt < 64 && path_.empty(); ++attempt) {
    const fs::path dir = fs::temp_directory_path() / ("kestrix-test-" + std::to_string(random()));
    if (fs::create_directory(dir)) path_ = PathText(dir);
  }
  if (path_.empty()) throw std::runtime_error("cannot create a temporary folder");
#else
  std::string pattern = (fs::temp_directory_path() / "kestrix-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
#endif
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::vector<std::string> NativeLines(std::vector<std::string> lines) {
  for (std::string& line : lines) line = NativeSeparators(line);
  return lines;
}

std::string MissingFileOf(const std::string& message) {
  const std::string marker = "Missing file: ";
  const size_t at = message.find(marker);
  return at == std::string::npos ? std::string() : message.substr(at + marker.size());
}

bool OnlyMissingResources(const std::string& err) {
  size_t start = 0;
  bool any = false;
  while (start < err.size()) {
    size_t end = err.find('\n', start);
    if (end == std::string::npos) end = err.size();
    const std::string line = err.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    const std::string file = MissingFileOf(line);
    if (file.empty() || std::filesystem::exists(file)) return false;
    any = true;
  }
  return any;
}

std::string CorpusDir() {
#ifdef KESTRIX_CORPUS_DIR
  if (const char* env = std::getenv("KESTRIX_CORPUS")) return env;
  std::error_code ec;
  if (fs::exists(fs::path(KESTRIX_CORPUS_DIR) / "manifest.tsv", ec))
    return fs::weakly_canonical(KESTRIX_CORPUS_DIR).string();
#endif
  return std::string();
}

std::vector<CorpusRow> CorpusManifest() {
  std::vector<CorpusRow> rows;
  std::string dir = CorpusDir();
  if (dir.empty()) return rows;
  std::ifstream in(dir + "/manifest.tsv");
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) cols.push_back(cell);
    while (cols.size() < 15) cols.emplace_back();
    CorpusRow r;
    r.relpath = cols[0];
    r.container = cols[6];
    r.compression = cols[7];
    r.serialized_format = cols[8];
    r.unity_version = cols[9];
    r.big_endian = cols[10] == "1";
    r.has_type_trees = cols[11];
    r.object_count = cols[12].empty() ? -1 : std::stol(cols[12]);
    r.classes_present = cols[13];
    r.notes = cols[14];
    rows.push_back(r);
  }
  return rows;
}

bool IsHandledPlainFile(const CorpusRow& row) {
  return row.container == "plain" && FormatsWithin(row);
}

bool IsReadableBundle(const CorpusRow& row) {
  for (const char* signature : {"UnityRaw-v", "UnityWeb-v", "UnityFS-v"})
    if (row.container.rfind(signature, 0) == 0) return true;
  return false;
}

bool FormatsWithin(const CorpusRow& row, int lowest, int highest) {
  if (row.serialized_format.empty()) return false;
  for (size_t start = 0; start <= row.serialized_format.size();) {
    size_t comma = row.serialized_format.find(',', start);
    if (comma == std::string::npos) comma = row.serialized_format.size();
    const int format = std::stoi(row.serialized_format.substr(start, comma - start));
    if (format < lowest || format > highest) return false;
    start = comma + 1;
  }
  return true;
}

std::string CorpusArchiveToOpen(const CorpusRow& row, const TempDir& tmp) {
  const std::string& rel = row.relpath;
  std::string path = CorpusDir() + "/" + rel;
  if (rel.size() <= 7 || rel.compare(rel.size() - 7, 7, ".split0") != 0) return path;
  std::string base = rel.substr(rel.find_last_of('/') + 1);
  base.pop_back();  // "name.split"
  for (int i = 0;; ++i) {
    std::string piece = path.substr(0, path.size() - 1) + std::to_string(i);
    std::error_code ec;
    if (!fs::exists(piece, ec)) break;
    // The user's own copy of the pieces, which an import may rewrite (the corpus is read-only).
    CopyFile(piece, tmp.File(base + std::to_string(i)));
    fs::permissions(tmp.File(base + std::to_string(i)), fs::perms::owner_write,
                    fs::perm_options::add);
  }
  return tmp.File(base + "0");
}

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

namespace {

#ifdef _WIN32
HANDLE InheritedFile(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(sys::Wide(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The Windows counterpart of the runner below: CreateProcessW, and TerminateProcess where a
// signal would be sent (result.signal then names the signal the Linux run would have got).
RunResult Run(std::string program, const std::vector<std::string>& args,
              const std::vector<std::string>& env, const std::string& cwd,
              const std::function<bool(int)>& stop, std::chrono::milliseconds limit,
              int stop_signal = SIGTERM) {
  TempDir io;
  const std::string out_path = io.File("out"), err_path = io.File("err");
  std::wstring line = sys::QuotedArgument(sys::Wide(program));
  for (const std::string& a : args) line += L" " + sys::QuotedArgument(sys::Wide(a));
  std::vector<std::wstring> entries;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (wchar_t* e = block; *e; e += wcslen(e) + 1) {
      const std::wstring entry = e;
      const std::wstring name = entry.substr(0, entry.find(L'=', 1));
      const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& x) {
        return sys::Wide(x.substr(0, x.find('='))) == name;
      });
      if (!replaced) entries.push_back(entry);
    }
    FreeEnvironmentStringsW(block);
  }
  for (const std::string& e : env) entries.push_back(sys::Wide(e));
  std::wstring block;
  for (const std::wstring& e : entries) block += e + L'\0';
  block += L'\0';
  STARTUPINFOW start{};
  start.cb = sizeof(start);
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = InheritedFile("NUL", false);
  start.hStdOutput = InheritedFile(out_path, true);
  start.hStdError = InheritedFile(err_path, true);
  PROCESS_INFORMATION info{};
  const std::wstring folder = sys::Wide(cwd);
  const BOOL started = CreateProcessW(sys::Wide(program).c_str(), line.data(), nullptr, nullptr,
                                      TRUE, CREATE_UNICODE_ENVIRONMENT, block.data(),
                                      cwd.empty() ? nullptr : folder.c_str(), &start, &info);
  for (HANDLE h : {start.hStdInput, start.hStdOutput, start.hStdError}) CloseHandle(h);
  if (!started) throw std::runtime_error("cannot start " + program);
  CloseHandle(info.hThread);
  RunResult result;
  int ended_by = 0;
  if (stop) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) {
      if (std::chrono::steady_clock::now() > deadline) {
        ended_by = 9;
      } else if (stop(static_cast<int>(info.dwProcessId))) {
        ended_by = stop_signal;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      TerminateProcess(info.hProcess, 128 + ended_by);
      break;
    }
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  if (ended_by == 0 && code == 128 + SIGKILL) ended_by = SIGKILL;  // KillSelf
  if (ended_by != 0)
    result.signal = ended_by;
  else
    result.status = static_cast<int>(code);
  // Line ends aside, a Windows run prints what a Linux run prints.
  auto lines = [](const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
      if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') out += text[i];
    return out;
  };
  result.out = lines(Slurp(out_path));
  result.err = lines(Slurp(err_path));
  return result;
}
#else
// Runs program to its end, or while `stop` is given, until stop(pid) answers true (then
// `stop_signal`) or `limit` passes (SIGKILL).
RunResult Run(std::string program, const std::vector<std::string>& args,
              const std::vector<std::string>& env, const std::string& cwd,
              const std::function<bool(int)>& stop, std::chrono::milliseconds limit,
              int stop_signal = SIGTERM) {
  TempDir io;
  std::string out_path = io.File("out"), err_path = io.File("err");
  // A shell would add its own quoting problems; posix_spawn with file actions keeps the
  // arguments exact.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<char*> argv;
  argv.push_back(program.data());
  std::vector<std::string> arg_copy = args;
  for (std::string& a : arg_copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_copy;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& x) {
      return x.substr(0, x.find('=')) == name;
    });
    if (!replaced) env_copy.push_back(entry);
  }
  for (const std::string& e : env) env_copy.push_back(e);
  std::vector<char*> envp;
  for (std::string& e : env_copy) envp.push_back(e.data());
  envp.push_back(nullptr);
  RunResult result;
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start " + program);
  int status = 0;
  if (stop) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
      } else if (stop(pid)) {
        kill(pid, stop_signal);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        continue;
      }
      waitpid(pid, &status, 0);
      break;
    }
  } else {
    waitpid(pid, &status, 0);
  }
  if (WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  result.out = Slurp(out_path);
  result.err = Slurp(err_path);
  return result;
}
#endif

}  // namespace

RunResult RunKestrix(const std::vector<std::string>& args, const std::vector<std::string>& env,
                     const std::string& cwd) {
  return Run(KESTRIX_BINARY, args, env, cwd, nullptr, {});
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& env) {
  return Run(program, args, env, "", nullptr, {});
}

RunResult RunKestrixUntil(const std::vector<std::string>& args, const std::vector<std::string>& env,
                          const std::function<bool(int pid)>& stop, std::chrono::milliseconds limit,
                          int signal) {
  return Run(KESTRIX_BINARY, args, env, "", stop, limit, signal);
}

std::vector<std::string> ListFiles(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  if (!fs::exists(folder, ec)) return out;
  // Export's record of what it wrote is its own note beside the user's files, not one of them;
  // the tests of the record look for it by name.
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (e.is_regular_file() && e.path().filename() != ".kestrix-export")
      out.push_back(fs::relative(e.path(), folder).generic_string());  // "/" on every system
  }
  std::sort(out.begin(), out.end());
  return out;
}

void CopyFile(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

}  // namespace kestrix::testing
