#include <benchmark/benchmark.h>

void RegisterEffectBenchmarks();

int main(int argc, char** argv) {
  RegisterEffectBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
