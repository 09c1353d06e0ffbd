// quorvix-host: loads a render plugin module the way an application does and
// uses it on PNG images.
//
//   quorvix-host info  [--plugin PATH]
//   quorvix-host scale IN.png OUT.png [--times N] [--pixels MODE] [--compare CMP.png]
//   quorvix-host scale A.png B.png ... -o DIR
//   quorvix-host bench [--size WxH] [--frames N]
//
// Exit status: 0 done, 1 some file or the module failed, 2 bad command line.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench.h"
#include "module.h"
#include "png_file.h"
#include "scale.h"

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

void Complain(const std::string& message) {
  fprintf(stderr, "quorvix-host: %s\n", message.c_str());
}

bool LoadModule(const std::string& path, host::PluginModule* module) {
  std::string error;
  if (module->Load(path, &error)) return true;
  Complain(path + ": " + error);
  return false;
}

int RunInfo(const std::string& plugin) {
  host::PluginModule module;
  if (!LoadModule(plugin, &module)) return kExitFailed;
  std::string name, error;
  uint32_t flags = 0;
  if (!module.ReadInfo(&name, &flags, &error)) {
    Complain(plugin + ": " + error);
    return kExitFailed;
  }
  printf("module  %s\nname    %s\nflags   0x%08X\n", plugin.c_str(), name.c_str(), flags);
  return 0;
}

// Counts finished images and, on a terminal, keeps a progress bar on the
// last line of stderr, with failures printed above it.
class Progress {
 public:
  Progress(size_t total, bool bar) : total_(total), bar_(bar) { Draw(); }

  void Done(const host::ScaleResult& result) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++done_;
    if (result.ok) {
      pixelsIn_ += result.pixelsIn;
      pixelsOut_ += result.pixelsOut;
    } else {
      ++failed_;
      if (bar_) fputs("\r\033[K", stderr);
      Complain(result.message);
    }
    Draw();
  }

  // The summary line; a single image that failed has said all there is.
  void Finish(double seconds) {
    if (bar_) fputs("\r\033[K", stderr);
    if (total_ == 1 && failed_ == 1) return;
    printf("%zu of %zu image%s scaled, %llu pixels in, %llu pixels out, %.3f s", total_ - failed_,
           total_, total_ == 1 ? "" : "s", static_cast<unsigned long long>(pixelsIn_),
           static_cast<unsigned long long>(pixelsOut_), seconds);
    if (failed_ > 0) printf(", %zu failed", failed_);
    printf("\n");
  }

  bool failed() const { return failed_ > 0; }

 private:
  void Draw() {
    if (!bar_) return;
    constexpr size_t kWidth = 30;
    const size_t filled = total_ == 0 ? kWidth : done_ * kWidth / total_;
    fprintf(stderr, "\r[%s%s] %zu/%zu", std::string(filled, '#').c_str(),
            std::string(kWidth - filled, ' ').c_str(), done_, total_);
    fflush(stderr);
  }

  std::mutex mutex_;
  size_t total_;
  bool bar_;
  size_t done_ = 0;
  size_t failed_ = 0;
  unsigned long long pixelsIn_ = 0;
  unsigned long long pixelsOut_ = 0;
};

struct Job {
  std::string input;
  std::string output;
};

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The jobs of a command line: IN OUT, or inputs and an output folder.
bool PlanJobs(const std::vector<std::string>& files, const std::string& outputDir,
              const std::string& compare, std::vector<Job>* jobs) {
  if (outputDir.empty()) {
    if (files.size() != 2) {
      Complain("scale: give IN.png OUT.png, or inputs and an output folder with -o DIR");
      return false;
    }
    jobs->push_back({files[0], files[1]});
  } else {
    std::map<std::string, std::string> taken;  // output -> its input
    for (const std::string& input : files) {
      const size_t slash = input.rfind('/');
      const std::string base = slash == std::string::npos ? input : input.substr(slash + 1);
      const std::string output = outputDir + (outputDir.back() == '/' ? "" : "/") + base;
      auto inserted = taken.emplace(output, input);
      if (!inserted.second) {
        Complain("scale: " + inserted.first->second + " and " + input + " would both be written to " +
                 output);
        return false;
      }
      jobs->push_back({input, output});
    }
  }
  if (!compare.empty() && jobs->size() != 1) {
    Complain("scale: --compare works with one input image");
    return false;
  }
  for (const Job& job : *jobs) {
    if (SameFile(job.input, job.output) || (!compare.empty() && SameFile(job.input, compare))) {
      Complain("scale: " + job.input + ": the output would replace the input itself");
      return false;
    }
  }
  return true;
}

int RunScale(const std::string& plugin, const std::vector<std::string>& files,
             const std::string& outputDir, const std::string& compare,
             const host::ScaleOptions& options) {
  std::vector<Job> jobs;
  if (!PlanJobs(files, outputDir, compare, &jobs)) return kExitUsage;
  host::PluginModule module;
  if (!LoadModule(plugin, &module)) return kExitFailed;
  if (!outputDir.empty() && mkdir(outputDir.c_str(), 0777) != 0 && errno != EEXIST) {
    Complain(outputDir + ": cannot create folder: " + strerror(errno));
    return kExitFailed;
  }
  host::InitFileMode();

  // Each image has its own record and buffers, so images run side by side;
  // they share only the module and the memory budget.
  host::MemoryBudget budget(host::MemoryLimit());
  const size_t threads =
      std::max<size_t>(1, std::min<size_t>(std::thread::hardware_concurrency(), jobs.size()));
  Progress progress(jobs.size(), jobs.size() > 1 && isatty(STDERR_FILENO));
  std::atomic<size_t> next{0};
  const auto start = std::chrono::steady_clock::now();
  auto work = [&] {
    for (size_t i = next++; i < jobs.size(); i = next++) {
      progress.Done(host::ScaleImage(module, options, &budget, jobs[i].input, jobs[i].output,
                                     compare));
    }
  };
  std::vector<std::thread> workers;
  for (size_t i = 1; i < threads; ++i) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  progress.Finish(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  return progress.failed() ? kExitFailed : 0;
}

// "320x240" -> 320, 240.
bool ParseSize(const std::string& text, uint32_t* width, uint32_t* height) {
  unsigned long w = 0, h = 0;
  char x = 0, rest = 0;
  if (sscanf(text.c_str(), "%lu%c%lu%c", &w, &x, &h, &rest) != 3 || (x != 'x' && x != 'X') ||
      w == 0 || h == 0 || w > UINT32_MAX || h > UINT32_MAX || text[0] == '-') {
    return false;
  }
  *width = static_cast<uint32_t>(w);
  *height = static_cast<uint32_t>(h);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Loads a render plugin module and enlarges PNG images with it.", "quorvix-host"};
  app.require_subcommand(1);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string("quorvix-host: ") + e.what() + " (see --help)\n";
  });

  std::string plugin = host::DefaultModulePath();
  const char* pluginHelp = "render plugin module to load (default: Quorvix.rpi beside this program)";

  CLI::App* info = app.add_subcommand("info", "Print the module's display name and flags word.");
  info->add_option("--plugin", plugin, pluginHelp);

  CLI::App* scale = app.add_subcommand(
      "scale", "Enlarge IN.png into OUT.png, or several images into a folder (-o DIR).");
  std::vector<std::string> files;
  std::string outputDir, compare, pixels = "exact";
  host::ScaleOptions options;
  scale->add_option("files", files, "IN.png OUT.png, or the input images with -o")->required();
  scale->add_option("-o,--output-dir", outputDir, "write each input's enlargement here, same name");
  scale->add_option("--plugin", plugin, pluginHelp);
  scale->add_option("--times", options.times, "pass the image through the module N times (2 gives 4x)")
      ->check(CLI::Range(1, 32));
  scale->add_option("--pixels", pixels,
                    "exact: lossless, each colour its own 16-bit code (default);\n"
                    "rgb565: as a 16-bit host, composited over black;\n"
                    "rgb555: 5-5-5 colour with 1-bit alpha")
      ->check(CLI::IsMember({"exact", "rgb565", "rgb555"}));
  scale->add_option("--compare", compare,
                    "also write a side-by-side picture: plain pixel doubling | the module");

  CLI::App* bench = app.add_subcommand(
      "bench", "Measure the module's frame rate beside a memset of the same output.");
  std::string size = "320x240";
  uint64_t frames = 2000;
  bench->add_option("--plugin", plugin, pluginHelp);
  bench->add_option("--size", size, "source frame size WxH (default 320x240)");
  bench->add_option("--frames", frames, "frames to time (default 2000)")
      ->check(CLI::Range(uint64_t{1}, uint64_t{1} << 32));

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : kExitUsage;
  }

  if (info->parsed()) return RunInfo(plugin);
  if (scale->parsed()) {
    options.mode = pixels == "rgb565"   ? host::PixelMode::kRgb565
                   : pixels == "rgb555" ? host::PixelMode::kRgb555
                                        : host::PixelMode::kExact;
    return RunScale(plugin, files, outputDir, compare, options);
  }
  uint32_t width = 0, height = 0;
  if (!ParseSize(size, &width, &height)) {
    Complain("bench: --size " + size + ": expected WIDTHxHEIGHT, e.g. 320x240");
    return kExitUsage;
  }
  host::PluginModule module;
  if (!LoadModule(plugin, &module)) return kExitFailed;
  return host::RunBench(module, width, height, frames);
}
