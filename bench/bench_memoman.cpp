// Steady Add/Delete cycle of the paged record pool against operator new and
// operator delete of the same number of bytes.
//
// Each benchmark keeps a ring of Live records. One iteration gives the oldest
// record back and takes a new one in its place, then writes to it, so both
// sides do the same work per iteration. The pool draws its pages from a
// private heap made for the benchmark, as a model run would.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "quorin/detail/memoman.h"
#include "quorin/framework.h"
#include "ratio_reporter.h"

namespace {

constexpr uint16_t PageSize = 1024; // the model's default page size

void BM_Pool(benchmark::State& State) {
  const auto Size = static_cast<uint16_t>(State.range(0));
  const auto Live = static_cast<std::size_t>(State.range(1));
  quorin::GlobalHeap = quorin::HeapCreate(0, 2048, 64u << 20);
  {
    quorin::TMemoManager Pool(PageSize, Size);
    std::vector<void*> Ring(Live);
    for (auto& P : Ring)
      P = Pool.Add();
    std::size_t I = 0;
    for (auto _ : State) {
      Pool.Delete(Ring[I]);
      void* P = Pool.Add();
      *static_cast<volatile char*>(P) = 1;
      benchmark::DoNotOptimize(P);
      Ring[I] = P;
      if (++I == Live) I = 0;
      benchmark::ClobberMemory();
    }
    for (void* P : Ring)
      Pool.Delete(P);
  }
  quorin::HeapDestroy(quorin::GlobalHeap);
  quorin::GlobalHeap = nullptr;
  State.SetItemsProcessed(State.iterations());
}

void BM_NewDelete(benchmark::State& State) {
  const auto Size = static_cast<std::size_t>(State.range(0));
  const auto Live = static_cast<std::size_t>(State.range(1));
  std::vector<void*> Ring(Live);
  for (auto& P : Ring)
    P = ::operator new(Size);
  std::size_t I = 0;
  for (auto _ : State) {
    ::operator delete(Ring[I]);
    void* P = ::operator new(Size);
    *static_cast<volatile char*>(P) = 1;
    benchmark::DoNotOptimize(P);
    Ring[I] = P;
    if (++I == Live) I = 0;
    benchmark::ClobberMemory();
  }
  for (void* P : Ring)
    ::operator delete(P);
  State.SetItemsProcessed(State.iterations());
}

const std::vector<std::vector<int64_t>> Cases = {{56, 120}, {8, 1000}};

BENCHMARK(BM_Pool)->ArgsProduct(Cases)->ArgNames({"bytes", "live"});
BENCHMARK(BM_NewDelete)->ArgsProduct(Cases)->ArgNames({"bytes", "live"});

} // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  quorin::bench::TRatioReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  benchmark::Shutdown();

  std::printf("\nTime per Delete+Add cycle, ratio pool / new-delete (below 1: pool faster)\n");
  for (int64_t Size : Cases[0])
    for (int64_t Live : Cases[1]) {
      const std::string Args = "bytes:" + std::to_string(Size) + "/live:" + std::to_string(Live);
      Reporter.PrintRatio(Args, "BM_Pool", "BM_NewDelete", Args);
    }
  return 0;
}
