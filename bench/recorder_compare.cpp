// The page's run recorder on models of many blocks: one generator feeds P
// queue+server pairs in turn, every server passes to one terminator (2P + 2
// blocks), arrivals at rate 1, services of mean 0.8 P, on the scalable engine. For each P, the time
// per customer with a recorder (as `quorin run --html` makes one) as a ratio
// to the same run without, both measured in the same run, round after
// round, each the median of its rounds. The recorder's work per event is
// bounded whatever P; what grows with P is its fixed part (the buckets of
// every block, 1000 each, filled by the end) and the memory it walks, which
// the cache feels. On the shared 2-core machine here, 100000 arrivals:
//
//    pairs   blocks    ratio
//        1        4     1.7
//       50      102     2.1
//      500     1002     5.1
//     5000    10002    19     (it was over 200 when every block's buckets
//                              were brought up to date at every new time)
//
//   recorder_compare [rounds (default 3)] [pairs ...]   default pairs: 1 50 500 5000
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>


#include "pairs.h"
#include "quorin/page.h"
#include "timing.h"

using namespace quorin;
using bench::CpuSeconds;
using bench::Median;

namespace {

// CPU seconds per customer of a run of 100000 arrivals with Pairs pairs,
// on the engine whose cost per event does not grow with the blocks.
double Run(int32_t Pairs, bool Record) {
  TComponent Application(nullptr);
  auto* Form = new TComponent(&Application);
  const bench::TPairsModel P = bench::BuildPairs(Form, Pairs);
  TModel* Model = P.Model;
  Model->SetHeapSize(64);
  Model->SetEngine(TEngine::Scalable);
  const double Until = 100000.0;
  std::unique_ptr<TRunRecorder> Recorder;
  if (Record) Recorder = std::make_unique<TRunRecorder>(*Model, TRunRecorder::TLimits{1000, 10000, Until});
  const double Start = CpuSeconds();
  Model->Simulate(Until);
  if (Recorder) Recorder->Finish();
  const double Seconds = CpuSeconds() - Start;
  const double Customers = std::max<double>(1, P.Exit->Entries());
  Recorder.reset();
  Model->Reset();
  return Seconds / Customers;
}

} // namespace

int main(int argc, char** argv) {
  int32_t Rounds = argc > 1 ? int32_t(std::strtol(argv[1], nullptr, 10)) : 3;
  std::vector<int32_t> Sizes;
  for (int i = 2; i < argc; ++i)
    Sizes.push_back(int32_t(std::strtol(argv[i], nullptr, 10)));
  if (Sizes.empty()) Sizes = {1, 50, 500, 5000};
  if (Rounds < 1 || std::any_of(Sizes.begin(), Sizes.end(), [](int32_t P) { return P < 1; })) {
    std::fprintf(stderr, "usage: %s [rounds >= 1] [pairs >= 1 ...]\n", argv[0]);
    return 2;
  }
  std::printf("%8s %8s %16s %16s %8s\n", "pairs", "blocks", "ns/cust plain", "ns/cust rec.",
              "ratio");
  for (const int32_t P : Sizes) {
    std::vector<double> Plain, Recorded;
    for (int32_t r = 0; r < Rounds; ++r) {
      Plain.push_back(Run(P, false));
      Recorded.push_back(Run(P, true));
    }
    const double A = Median(Plain), B = Median(Recorded);
    std::printf("%8d %8d %16.1f %16.1f %8.2f\n", P, 2 * P + 2, 1e9 * A, 1e9 * B, B / A);
  }
  return 0;
}
