// The benchmark's figures without Google Benchmark, for builds that have
// none (the 32-bit Windows DLL, run under wine): each measured thing is
// timed in batches of about 20 ms, all of them in turn, round after round,
// and the fastest batch counts. Prints the same ratio table as `bench`.
//
//   bench_loop [--rounds N] [--size WxH]
//   bench_loop --once WHAT WxH    one frame of WHAT (a kernel's name, "call"
//                                 or "textbook"), e.g. under callgrind
#include <chrono>
#include <functional>
#include <memory>

#include "bench_common.h"

namespace {

struct Measure {
  std::string what;
  std::function<void()> run;
};

std::vector<Measure> Measures(bench::Workload& w, RenderPluginOutputFn output) {
  std::vector<Measure> measures = {
      {"memset", [&w] { memset(w.target, 0x33, w.targetBytes()); }},
      {"memcpy", [&w] { memcpy(w.target, w.copyFrom, w.targetBytes()); }},
      {"call", [&w, output] { output(&w.params); }},
  };
  for (const quorvix::RowKernel* k : bench::RunnableKernels()) {
    measures.push_back({k->name, [&w, k] { w.Kernel(*k); }});
  }
  measures.push_back({"textbook", [&w] { w.Textbook(); }});
  return measures;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

bool ParseSize(const char* text, bench::Size* size) {
  unsigned w, h;
  if (sscanf(text, "%ux%u", &w, &h) != 2 || w == 0 || h == 0) return false;
  *size = {w, h};
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 7;
  std::vector<bench::Size> sizes(std::begin(bench::kSizes), std::end(bench::kSizes));
  const char* once = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bench::Size size;
    if (arg == "--rounds" && i + 1 < argc) {
      rounds = atoi(argv[++i]);
    } else if (arg == "--size" && i + 1 < argc && ParseSize(argv[i + 1], &size)) {
      sizes = {size};
      ++i;
    } else if (arg == "--once" && i + 2 < argc && ParseSize(argv[i + 2], &size)) {
      once = argv[i + 1];
      sizes = {size};
      i += 2;
    } else {
      fprintf(stderr, "usage: %s [--rounds N] [--size WxH] | --once WHAT WxH\n", argv[0]);
      return 2;
    }
  }

  const RenderPluginOutputFn output = bench::LoadModuleOutput();
  if (once != nullptr) {
    bench::Workload w(sizes[0]);
    for (const Measure& m : Measures(w, output)) {
      if (m.what == once) {
        m.run();
        return 0;
      }
    }
    fprintf(stderr, "nothing called %s to run\n", once);
    return 2;
  }

  std::vector<bench::Result> results;
  for (bench::Size size : sizes) {
    bench::Workload w(size);
    if (!bench::SameOutputEverywhere(w, output)) return 1;
    std::vector<Measure> measures = Measures(w, output);
    std::vector<long> batch(measures.size(), 0);
    std::vector<double> best(measures.size(), 1e30);
    for (int round = 0; round < rounds; ++round) {
      for (size_t m = 0; m < measures.size(); ++m) {
        if (batch[m] == 0) {  // first round: size the batch to about 20 ms
          const auto start = std::chrono::steady_clock::now();
          measures[m].run();
          const double first = Seconds(std::chrono::steady_clock::now() - start);
          batch[m] = first >= 0.02 ? 1 : static_cast<long>(0.02 / (first > 1e-7 ? first : 1e-7));
        }
        const auto start = std::chrono::steady_clock::now();
        for (long i = 0; i < batch[m]; ++i) measures[m].run();
        const double each = Seconds(std::chrono::steady_clock::now() - start) / batch[m];
        if (each < best[m]) best[m] = each;
      }
    }
    for (size_t m = 0; m < measures.size(); ++m) {
      results.push_back({bench::SizeName(size), measures[m].what, best[m] * 1e9 / double(w.pixels())});
    }
    fprintf(stderr, "%s done\n", bench::SizeName(size).c_str());
  }
  bench::PrintRatios(results);
  return 0;
}
