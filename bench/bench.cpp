// Speed of the scaler against the memory traffic it cannot avoid, with
// Google Benchmark. For each frame size: memset and memcpy of the output
// size, the module's whole RenderPluginOutput call (the built Quorvix.rpi,
// loaded with dlopen), ScaleFrame2x with every kernel the processor runs,
// and a textbook per-pixel Scale2x. Each is repeated, the repetitions of all
// of them interleaved in random order, and the fastest repetition counts;
// the closing table gives nanoseconds per source pixel and the ratios.
//
//   build/native/bench [--benchmark_filter=320x240] [--benchmark_repetitions=N]
//                      [--benchmark_min_time=SECONDS]
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <memory>

#include "bench_common.h"

namespace {

using benchmark::State;

double MinOf(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

// Shows and keeps only the fastest repetition of each benchmark.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal.
  RatioReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown;
    for (const Run& run : runs) {
      const bool single = run.repetitions <= 1 && run.run_type == Run::RT_Iteration;
      const bool fastest = run.run_type == Run::RT_Aggregate && run.aggregate_name == "min";
      if (!single && !fastest) continue;
      shown.push_back(run);
      // Names are "<width>x<height>/<what>".
      const std::string& name = run.run_name.function_name;
      const std::string size = name.substr(0, name.find('/'));
      const double pixels = std::stod(size) * std::stod(size.substr(size.find('x') + 1));
      results_.push_back({size, name.substr(name.find('/') + 1), run.GetAdjustedRealTime() / pixels});
    }
    ConsoleReporter::ReportRuns(shown);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    bench::PrintRatios(results_);
  }

 private:
  std::vector<bench::Result> results_;
};

template <typename Fn>
void Register(const bench::Workload& w, const std::string& what, Fn fn) {
  benchmark::RegisterBenchmark((bench::SizeName(w.size) + "/" + what).c_str(),
                               [fn, &w](State& state) {
                                 for (auto _ : state) {
                                   fn();
                                   benchmark::ClobberMemory();
                                 }
                                 state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(w.pixels()));
                               })
      ->Unit(benchmark::kNanosecond)
      ->UseRealTime()
      ->ComputeStatistics("min", MinOf);
}

}  // namespace

int main(int argc, char** argv) {
  // Unless told otherwise: nine short repetitions of each benchmark, those of
  // all benchmarks interleaved in random order, so that a busy moment of the
  // machine does not favour one of them. Flags given later win.
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  char repetitions[] = "--benchmark_repetitions=9";
  char minTime[] = "--benchmark_min_time=0.05";
  std::vector<char*> args = {argv[0], interleave, repetitions, minTime};
  args.insert(args.end(), argv + 1, argv + argc);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

  const RenderPluginOutputFn output = bench::LoadModuleOutput();
  std::vector<std::unique_ptr<bench::Workload>> workloads;
  for (bench::Size size : bench::kSizes) {
    workloads.emplace_back(new bench::Workload(size));
    bench::Workload& w = *workloads.back();
    if (!bench::SameOutputEverywhere(w, output)) return 1;
    Register(w, "memset", [&w] { memset(w.target, 0x33, w.targetBytes()); });
    Register(w, "memcpy", [&w] { memcpy(w.target, w.copyFrom, w.targetBytes()); });
    Register(w, "call", [&w, output] { output(&w.params); });
    for (const quorvix::RowKernel* k : bench::RunnableKernels()) {
      Register(w, k->name, [&w, k] { w.Kernel(*k); });
    }
    Register(w, "textbook", [&w] { w.Textbook(); });
  }

  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
