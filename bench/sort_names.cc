// Times the window's sort by name on a list of 1,000,000 generated names against `sort -f` of
// the same names (C locale), run in the same process, and prints the ratio.
//   sort_names [row count] [work folder]
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/list_row.h"
#include "core/session.h"
#include "ui/list_sort.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Names shaped like those of real archives: a few common stems, mixed case, numbers and the
// naming pass's extensions, so that many names share long prefixes.
std::vector<std::string> GenerateNames(size_t count) {
  static const char* const kStems[] = {"Tex_",     "tex_",      "Mat_",    "Character", "character",
                                       "UI_Icon_", "ui_icon_",  "Sound",   "Building_", "Terrain",
                                       "Hero",     "hero_",     "fx_",     "FX_Smoke_", "Level",
                                       "prop_",    "Prop_Tree", "Weapon_", "weapon",    "Font"};
  static const char* const kExtensions[] = {".tex", ".mat",    ".mesh", ".txt", ".snd",
                                            ".ani", ".shader", ".1",    ".114", ".script"};
  std::mt19937_64 rng(20240611);
  std::vector<std::string> names;
  names.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    std::string name = kStems[rng() % std::size(kStems)];
    const int letters = 2 + static_cast<int>(rng() % 10);
    for (int k = 0; k < letters; ++k) {
      const char base = (rng() & 1) ? 'a' : 'A';
      name.push_back(static_cast<char>(base + rng() % 26));
    }
    name += "_" + std::to_string(rng() % 100000);
    name += kExtensions[rng() % std::size(kExtensions)];
    names.push_back(std::move(name));
  }
  return names;
}

double TimeExternalSort(const std::string& in, const std::string& out) {
  std::vector<std::string> words = {"sort", "-f", "-o", out, in};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_words = {"LC_ALL=C"};
  for (char** e = environ; *e != nullptr; ++e)
    if (std::string(*e).rfind("LC_ALL=", 0) != 0) env_words.emplace_back(*e);
  std::vector<char*> envp;
  for (std::string& w : env_words) envp.push_back(w.data());
  envp.push_back(nullptr);
  const Clock::time_point start = Clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, "sort", nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds = Seconds(start);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t count = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
  const std::string folder = argc > 2 ? argv[2] : "/tmp";
  const std::vector<std::string> names = GenerateNames(count);

  kestrix::Session s;
  std::vector<kestrix::ListRow> rows(count);
  for (size_t i = 0; i < count; ++i) {
    kestrix::ListRow& row = rows[i];
    row.Number = static_cast<int32_t>(i + 1);
    row.Name = names[i];
    row.ClassId = 28;
    row.TypeSuffix = " (Texture2D id: 10 - DXT1)";
    row.Size = static_cast<uint32_t>(i * 2654435761u);
    row.Offset = i * 64;
  }

  const Clock::time_point start = Clock::now();
  kestrix::SortListRows(rows, s, kestrix::kColumnName);
  const double window = Seconds(start);
  const Clock::time_point again_start = Clock::now();
  kestrix::SortListRows(rows, s, kestrix::kColumnName);  // clicking the header again: sorted input
  const double again = Seconds(again_start);
  const Clock::time_point size_start = Clock::now();
  kestrix::SortListRows(rows, s, kestrix::kColumnSize);
  const double by_size = Seconds(size_start);

  const std::string in = folder + "/kestrix_sort_names.txt";
  const std::string out = folder + "/kestrix_sort_names.sorted";
  {
    std::ofstream file(in, std::ios::binary);
    for (const std::string& name : names) file << name << '\n';
  }
  const double external = TimeExternalSort(in, out);
  std::remove(in.c_str());
  std::remove(out.c_str());

  std::printf("rows                      %zu\n", count);
  std::printf("window sort by name        %.3f s\n", window);
  std::printf("  again (already sorted)   %.3f s\n", again);
  std::printf("  by size                  %.3f s\n", by_size);
  if (external < 0) {
    std::printf("sort -f (C locale)         failed\n");
    return 1;
  }
  std::printf("sort -f (C locale)         %.3f s\n", external);
  std::printf("ratio window / sort        %.2f (target <= 2)\n", window / external);
  return 0;
}
