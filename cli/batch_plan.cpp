#include "cli/batch_plan.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <set>
#include <utility>

#include "cli/image_io.h"

namespace lq::cli {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool IsImageName(const fs::path& p) {
  static const std::set<std::string> kExt = {".jpg", ".jpeg", ".png", ".bmp", ".gif", ".tif", ".tiff", ".webp"};
  return kExt.count(Lower(p.extension().string())) != 0;
}

// "x_LQ" or "x_LQ_3": what a batch writes, not what it reads.
bool IsOutputName(const fs::path& p) {
  const std::string stem = p.stem().string();
  size_t end = stem.size();
  size_t digits = end;
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(stem[digits - 1]))) --digits;
  if (digits < end && digits > 0 && stem[digits - 1] == '_') end = digits - 1;
  return end >= 3 && stem.compare(end - 3, 3, "_LQ") == 0;
}

// One spelling per file: the same file named two ways is one input.
std::string Key(const fs::path& p) {
  std::error_code ec;
  fs::path c = fs::weakly_canonical(fs::absolute(p, ec), ec);
  return ec ? fs::absolute(p).lexically_normal().string() : c.string();
}

using FileId = std::pair<dev_t, ino_t>;

bool Identify(const std::string& path, FileId& id) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  id = {st.st_dev, st.st_ino};
  return true;
}

}  // namespace

std::vector<std::string> CollectBatchInputs(const std::vector<std::string>& args, std::vector<std::string>* errors) {
  std::vector<std::string> out;
  std::set<std::string> seen;
  auto add = [&](const std::string& path) {
    if (seen.insert(Key(path)).second) out.push_back(path);
  };
  for (const std::string& arg : args) {
    std::error_code ec;
    if (!fs::is_directory(arg, ec)) {
      add(arg);  // a missing or unreadable file is reported when it is loaded
      continue;
    }
    std::vector<fs::path> files;
    for (fs::directory_iterator it(arg, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code fe;
      if (it->is_regular_file(fe) && IsImageName(it->path()) && !IsOutputName(it->path())) files.push_back(it->path());
    }
    if (ec) {
      if (errors) errors->push_back("Cannot read folder " + arg + ": " + ec.message());
      continue;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) add(f.string());
  }
  return out;
}

std::vector<TBatchItem> PlanOutputs(const std::vector<std::string>& inputs, const std::string& outDir) {
  std::set<std::string> taken;
  std::set<FileId> inputIds;
  for (const std::string& in : inputs) {
    taken.insert(Key(in));
    FileId id;
    if (Identify(in, id)) inputIds.insert(id);
  }
  // A name is free when no input and no earlier output has it, and it is not
  // another name (a link) of an input.
  auto isFree = [&](const fs::path& candidate) {
    if (taken.count(Key(candidate))) return false;
    FileId id;
    return !(Identify(candidate.string(), id) && inputIds.count(id));
  };
  std::vector<TBatchItem> plan;
  plan.reserve(inputs.size());
  for (const std::string& in : inputs) {
    fs::path usual = OutputNameFor(in);
    if (!outDir.empty()) usual = fs::path(outDir) / usual.filename();
    fs::path candidate = usual;
    for (int k = 2; !isFree(candidate); ++k)
      candidate = usual.parent_path() / (usual.stem().string() + "_" + std::to_string(k) + usual.extension().string());
    taken.insert(Key(candidate));
    plan.push_back({in, candidate.string(), candidate != usual});
  }
  return plan;
}

bool ParseShard(const std::string& text, TShard& shard, std::string* error) {
  const size_t slash = text.find('/');
  auto number = [](std::string_view s, size_t& v) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return !s.empty() && ec == std::errc() && p == s.data() + s.size();
  };
  size_t k = 0, n = 0;
  if (slash == std::string::npos || !number(std::string_view(text).substr(0, slash), k) ||
      !number(std::string_view(text).substr(slash + 1), n) || n == 0 || k >= n) {
    if (error) *error = "--shard takes K/N with 0 <= K < N, got '" + text + "'";
    return false;
  }
  shard = {k, n};
  return true;
}

std::vector<size_t> ShardPositions(size_t n, TShard shard) {
  std::vector<size_t> out;
  for (size_t i = shard.index; i < n; i += shard.count) out.push_back(i);
  return out;
}

}  // namespace lq::cli
