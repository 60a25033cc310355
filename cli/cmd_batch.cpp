// lumaquill-cli batch (--effect ID [P1..P5] | --script FILE) [-j N] [--shard K/N] FILE...|DIR...
//
// Every input gets its result beside it as name_LQ.ext. Files run N at a time
// on worker threads, each effect or script starting from its own picture,
// while this thread turns the UI loop the effects hand work to.
#include <fmt/core.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "cli/batch_plan.h"
#include "cli/commands.h"
#include "cli/image_io.h"
#include "cli/runner.h"
#include "cli/script_job.h"
#include "engine/catalogue.h"
#include "engine/gfx/surface.h"

namespace lq::cli {

namespace fs = std::filesystem;

namespace {

constexpr const char* kWho = "lumaquill-cli batch";

struct BatchOptions {
  std::string effect;
  std::string script;
  std::vector<std::string> words;  // [P1..P5] with --effect, then files and folders
  int jobs = 0;                    // 0: one per core
  std::string shard;
  int64_t memoryMiB = 0;  // 0: most of what is free
};

// Several scripts run at once, but effects read one process-wide
// erase-background switch. Effects that want the same setting run together;
// one that wants the other waits until they are done.
class EraseGate {
 public:
  explicit EraseGate(EffectDriver& driver) : driver_(driver) {}
  void Run(bool erase, const std::function<void()>& step) {
    {
      std::unique_lock<std::mutex> lk(mu_);
      cv_.wait(lk, [&] { return holders_ == 0 || value_ == erase; });
      value_ = erase;
      ++holders_;
      driver_.FEraseBdChecked = erase;
    }
    struct Leave {
      EraseGate& g;
      ~Leave() {
        std::lock_guard<std::mutex> lk(g.mu_);
        if (--g.holders_ == 0) g.cv_.notify_all();
      }
    } leave{*this};
    step();
  }

 private:
  EffectDriver& driver_;
  std::mutex mu_;
  std::condition_variable cv_;
  int holders_ = 0;
  bool value_ = false;
};

// A script host per batch: each run keeps its own erase-background setting
// (the gate gives it to its effects) and nothing is on display to replace.
class BatchScriptHost : public TScriptHost {
 public:
  BatchScriptHost(EraseGate& gate, bool initialErase) : gate_(gate), initial_(initialErase) {}
  bool ReadEraseBackground() override { return initial_; }
  void WriteEraseBackground(bool) override {}
  void TakeResizedImage(const Image&) override {}
  void RunEffectStep(bool erase, const std::function<void()>& step) override { gate_.Run(erase, step); }

 private:
  EraseGate& gate_;
  bool initial_;
};

// Pictures in flight hold memory in proportion to their size: a file waits
// until its share fits beside the others (a file alone always goes ahead).
class MemoryBudget {
 public:
  explicit MemoryBudget(int64_t limit) : limit_(limit) {}
  bool Acquire(int64_t bytes) {
    std::unique_lock<std::mutex> lk(mu_);
    while (used_ > 0 && used_ + bytes > limit_) {
      if (Runner::Interrupted()) return false;
      cv_.wait_for(lk, std::chrono::milliseconds(50));
    }
    used_ += bytes;
    return true;
  }
  void Release(int64_t bytes) {
    std::lock_guard<std::mutex> lk(mu_);
    used_ -= bytes;
    cv_.notify_all();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int64_t limit_;
  int64_t used_ = 0;
};

int64_t ReadNumber(const std::string& path) {
  std::ifstream f(path);
  std::string text;
  if (!(f >> text) || text == "max") return -1;
  int64_t v = -1;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  return ec == std::errc() && p == text.data() + text.size() ? v : -1;
}

// Room left under this process's memory cgroup limit (a container, a Slurm
// job with --mem); -1 when there is no limit.
int64_t CgroupRoom() {
  std::ifstream f("/proc/self/cgroup");
  std::string line;
  while (std::getline(f, line)) {
    const size_t a = line.find(':'), b = line.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    const std::string controllers = line.substr(a + 1, b - a - 1), path = line.substr(b + 1);
    std::vector<std::pair<std::string, std::string>> files;
    if (controllers.empty()) {  // the unified hierarchy
      for (const std::string& dir : {"/sys/fs/cgroup" + path, std::string("/sys/fs/cgroup")})
        files.push_back({dir + "/memory.max", dir + "/memory.current"});
    } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
      for (const std::string& dir : {"/sys/fs/cgroup/memory" + path, std::string("/sys/fs/cgroup/memory")})
        files.push_back({dir + "/memory.limit_in_bytes", dir + "/memory.usage_in_bytes"});
    }
    for (const auto& [limitFile, usageFile] : files) {
      const int64_t limit = ReadNumber(limitFile), usage = ReadNumber(usageFile);
      // Unlimited v1 groups report a number near 2^63.
      if (limit > 0 && limit < (int64_t(1) << 60) && usage >= 0) return std::max<int64_t>(0, limit - usage);
    }
  }
  return -1;
}

// Most of the memory this process can still have: what the machine has free,
// or less under a cgroup limit; 4 GiB when neither can be read.
int64_t AvailableMemory() {
  int64_t room = -1;
  std::ifstream f("/proc/meminfo");
  std::string key, unit;
  int64_t kb = 0;
  while (f >> key >> kb >> unit)
    if (key == "MemAvailable:") room = kb * 1024;
  const int64_t cgroup = CgroupRoom();
  if (cgroup >= 0 && (room < 0 || cgroup < room)) room = cgroup;
  return room < 0 ? int64_t(4) << 30 : room / 4 * 3;
}

struct BatchJob {
  std::vector<TBatchItem> items;
  bool scriptMode = false;
  std::vector<TScriptCommand> script;
  int effect = -1;
  std::array<int, 5> p{};
  int jobs = 1;
  int64_t memoryBytes = 0;
};

class Batch {
 public:
  Batch(const BatchJob& job, HeadlessHost& host)
      : job_(job),
        host_(host),
        initialErase_(host.driver().FEraseBdChecked.load()),
        gate_(host.driver()),
        scriptHost_(gate_, initialErase_),
        budget_(job.memoryBytes > 0 ? job.memoryBytes : AvailableMemory()),
        context_(job.scriptMode ? CliScriptContext(host.driver(), job.script) : TScriptContext()) {
    // A script's slots each keep a picture alive besides the working ones.
    int saves = 0;
    for (const TScriptCommand& c : job.script) saves += c.Kind == sckSave;
    bytesPerPixel_ = 4 * (6 + saves);
  }

  // Returns the number of files written.
  int Run() {
    const int workers = std::max(1, std::min<int>(job_.jobs, int(job_.items.size())));
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    threads.reserve(size_t(workers));
    for (int i = 0; i < workers; ++i)
      threads.emplace_back([this, &finished] {
        Work();
        ++finished;
      });
    host_.loop().RunUntil([&] {
      if (Runner::Interrupted()) host_.driver().Cancel = true;
      ShowStatus();
      return finished.load() == workers;
    });
    for (std::thread& t : threads) t.join();
    host_.loop().ProcessPending();
    host_.driver().FEraseBdChecked = initialErase_;
    std::lock_guard<std::mutex> lk(outMu_);
    status_.Clear();
    return written_.load();
  }

 private:
  void Work() {
    while (!Runner::Interrupted()) {
      const size_t k = next_++;
      if (k >= job_.items.size()) return;
      started_ = int(k) + 1;
      ProcessOne(job_.items[k]);
    }
  }

  void Report(const std::string& line) {
    std::lock_guard<std::mutex> lk(outMu_);
    status_.Clear();
    shownText_.clear();
    fmt::print(stderr, "{}\n", line);
  }

  void ShowStatus() {
    std::lock_guard<std::mutex> lk(outMu_);
    if (!status_.active()) return;
    const int started = started_.load();
    if (started == 0) return;
    std::string text =
        fmt::format("Processing image {} of {}...  ({} written)", started, job_.items.size(), written_.load());
    if (text != shownText_) status_.Show(text);
    shownText_ = std::move(text);
  }

  void ProcessOne(const TBatchItem& item) {
    std::string error;
    // A file that cannot be read is skipped: no output, not counted.
    Image src = LoadImage(item.input, &error);
    if (!src) {
      Report(error);
      return;
    }
    const int64_t need = int64_t(src.width()) * src.height() * bytesPerPixel_;
    if (!budget_.Acquire(need)) return;
    struct Give {
      MemoryBudget& b;
      int64_t n;
      ~Give() { b.Release(n); }
    } give{budget_, need};

    Image result = job_.scriptMode ? RunScript(src, error) : RunEffect(src, error);
    if (!result) {
      // A file cut short by Ctrl+C is abandoned quietly; a failed one is named.
      const bool cancelled = Runner::Interrupted() && error == "Cancelled by user";
      if (!cancelled) Report(item.input + ": " + error);
      return;
    }
    // The file appears whole or not at all.
    if (!SaveImage(result, item.output, &error)) {
      Report(item.output + ": " + error);
      return;
    }
    ++written_;
  }

  Image RunScript(const Image& src, std::string& error) {
    TScriptEngine engine(&scriptHost_);
    engine.OnCancel = [] { return Runner::Interrupted(); };
    return engine.Run(job_.script, src, src, context_, error);
  }

  Image RunEffect(const Image& src, std::string& error) {
    auto dest = Surface::MakeRaster(src.width(), src.height());
    if (!dest) {
      error = fmt::format("Could not create {}x{} surface", src.width(), src.height());
      return {};
    }
    EffectDriver& d = host_.driver();
    try {
      // The effect paints over this file's own picture, never a shared one.
      d.ProcessEffectOnSurface(src, *dest, job_.effect, job_.p[0], job_.p[1], job_.p[2], job_.p[3], job_.p[4], src);
    } catch (const EAbort&) {
      error = "Cancelled by user";
      return {};
    } catch (const std::exception& e) {
      error = e.what();
      return {};
    }
    if (d.Cancel.load()) {
      error = "Cancelled by user";
      return {};
    }
    return dest->MakeImageSnapshot();
  }

  const BatchJob& job_;
  HeadlessHost& host_;
  const bool initialErase_;
  EraseGate gate_;
  BatchScriptHost scriptHost_;
  MemoryBudget budget_;
  const TScriptContext context_;
  int64_t bytesPerPixel_ = 24;

  std::atomic<size_t> next_{0};
  std::atomic<int> started_{0}, written_{0};
  std::mutex outMu_;
  StatusLine status_;
  std::string shownText_;
};

int RunBatch(const BatchOptions& o) {
  if (o.effect.empty() == o.script.empty()) {
    fmt::print(stderr, "{}: give either --effect ID [P1..P5] or --script FILE\n", kWho);
    return 2;
  }
  BatchJob job;
  size_t first = 0;
  if (!o.script.empty()) {
    // The whole script is checked before any picture is read.
    if (!LoadCheckedScript(kWho, o.script, job.script)) return 2;
    job.scriptMode = true;
  } else {
    job.effect = ParseEffect(o.effect);
    if (job.effect < 0 || !FindEffectProc(job.effect)) {
      fmt::print(stderr, "{}: unknown effect '{}' (see lumaquill-cli effects)\n", kWho, o.effect);
      return 2;
    }
    const EffectInfo* info = FindEffect(job.effect);
    for (int k = 0; k < 5; ++k) job.p[size_t(k)] = info->defaults[size_t(k)];
    // The integers right after the effect are its parameters.
    for (int k = 0; k < 5 && first < o.words.size(); ++k, ++first) {
      int v;
      if (!ParseInt(o.words[first], &v)) break;
      if (v < 0 || v > 100) {
        fmt::print(stderr, "{}: parameter P{} must be 0..100, got {}\n", kWho, k + 1, v);
        return 2;
      }
      job.p[size_t(k)] = v;
    }
  }
  TShard shard;
  std::string error;
  if (!o.shard.empty() && !ParseShard(o.shard, shard, &error)) {
    fmt::print(stderr, "{}: {}\n", kWho, error);
    return 2;
  }
  if (o.jobs < 0) {
    fmt::print(stderr, "{}: -j takes a number of files at once, 1 or more\n", kWho);
    return 2;
  }
  job.jobs = o.jobs > 0 ? o.jobs : int(std::max(1u, std::thread::hardware_concurrency()));
  if (o.memoryMiB < 0) {
    fmt::print(stderr, "{}: --max-memory takes a number of MiB, 1 or more\n", kWho);
    return 2;
  }
  job.memoryBytes = std::min<int64_t>(o.memoryMiB, int64_t(1) << 40) * 1024 * 1024;

  std::vector<std::string> args(o.words.begin() + long(first), o.words.end());
  if (args.empty()) {
    fmt::print(stderr, "{}: no input files\n", kWho);
    return 2;
  }
  std::vector<std::string> folderErrors;
  const std::vector<std::string> inputs = CollectBatchInputs(args, &folderErrors);
  for (const std::string& e : folderErrors) fmt::print(stderr, "{}: {}\n", kWho, e);

  // Names for the whole batch first, so every shard names every file alike
  // and no output lands on an input or on another output.
  const std::vector<TBatchItem> plan = PlanOutputs(inputs);
  for (size_t i : ShardPositions(plan.size(), shard)) job.items.push_back(plan[i]);
  for (const TBatchItem& it : job.items)
    if (it.renamed)
      fmt::print(stderr, "{}: {} is written as {}: its usual name belongs to another file of this batch\n", kWho,
                 it.input, it.output);

  int written = 0;
  if (!job.items.empty()) {
    // The command line's host, set up as for every other command; files in
    // flight show no progress of their own.
    Runner runner;
    HeadlessHost& host = runner.host();
    host.onProgress = nullptr;
    Batch batch(job, host);
    written = batch.Run();
  }
  fmt::print("Batch complete: {} of {} images processed.\n", written, job.items.size());
  std::fflush(stdout);
  if (Runner::Interrupted()) fmt::print(stderr, "Cancelled.\n");
  return written == int(job.items.size()) && folderErrors.empty() ? 0 : 1;
}

}  // namespace

void AddBatchCommand(CLI::App& app, int& status) {
  auto opts = std::make_shared<BatchOptions>();
  auto* cmd = app.add_subcommand(
      "batch",
      "Apply an effect or run a script on many pictures; each result is written beside its input as name_LQ.ext");
  cmd->add_option("--effect", opts->effect, "effect (number, script id or name); its parameters 0..100 follow");
  cmd->add_option("--script", opts->script, "script (.lqs) to run on every picture");
  cmd->add_option("-j,--jobs", opts->jobs, "pictures processed at once (default: one per core)");
  cmd->add_option("--shard", opts->shard, "K/N: only every N-th file, starting at K (from 0)");
  cmd->add_option("--max-memory", opts->memoryMiB,
                  "MiB the pictures in flight may take together (default: three quarters of what is free)");
  cmd->add_option("words", opts->words, "[P1..P5] FILE...|DIR...")->required();
  cmd->callback([opts, &status] { status = RunBatch(*opts); });
}

}  // namespace lq::cli
