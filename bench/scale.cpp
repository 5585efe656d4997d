// Memory per transaction at scale: N transactions made one per time unit
// by a generator and kept, either waiting in a queue (no activation) or held
// by a storage with a pending activation each (far in the future), on every
// engine of engines.h. Prints, when the N-th is made, the private heap's
// bytes per transaction and the growth of the process's resident memory per
// transaction; then the largest run on the scalable engine without the
// large-heap opt-in, which stops with the allocator's message at what 128
// megabytes hold.
//
//   scale [N ...]       default: 1000000 10000000
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "engines.h"
#include "quorin/blocks.h"
#include "quorin/detail/memoman.h"

using namespace quorin;

namespace {

std::size_t ResidentBytes() {
  long Pages = 0, Resident = 0;
  if (FILE* F = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(F, "%ld %ld", &Pages, &Resident) != 2) Resident = 0;
    std::fclose(F);
  }
  return std::size_t(Resident) * 4096;
}

struct TResult {
  int64_t Made = 0;
  double HeapBytes = 0, ResidentBytes = 0;
  std::string Message;
};

TResult Run(int64_t N, bool Pending, bool Large, const bench::TBenchEngine& Engine) {
  TResult R;
  const std::size_t Before = ResidentBytes();
  TComponent Form(nullptr);
  auto* Model = new TModel(&Form);
  auto* Door = new TGenerator(&Form);
  auto* Hold = new TStorage(&Form);
  auto* Line = new TQueue(&Form);
  Model->SetPageSize(32768);
  if (Large) {
    Model->SetLargeHeap(true);
    Model->SetHeapSize(int32_t(N * 160 / 1048576 + 64));
  } else {
    Model->SetHeapSize(128);
  }
  Engine.Apply(*Model);
  auto Previous = SetMessageHandler([&R](const std::string& Text) { R.Message = Text; });
  Door->OnBeforeTimeGoOn = [=](TAggregate*) { Door->NextTime(1.0); };
  Door->OnRouting = [=](TBlock* Sender, TTransaction*) {
    Sender->PassTo(Pending ? static_cast<TBlock*>(Hold) : Line);
  };
  Hold->OnEnter = [=](TBlock*, TTransaction*) { Hold->NextTime(1e9); };
  Door->OnAfterGeneration = [&, Door, Model](TBlock*, TTransaction*) {
    if (++R.Made < N) {
      Door->NextTime(1.0);
      return;
    }
    R.HeapBytes = double(HeapUsed(GlobalHeap)) / double(N);
    R.ResidentBytes = double(ResidentBytes() - Before) / double(N);
    Model->Stop();
  };
  Model->Simulate(1e9 - 1);
  // A run stopped by exhaustion: the transactions held then.
  if (R.HeapBytes == 0) R.Made = Pending ? Hold->Count() : Line->Count();
  SetMessageHandler(Previous);
  return R;
}

} // namespace

int main(int argc, char** argv) {
  std::vector<int64_t> Sizes;
  for (int i = 1; i < argc; ++i)
    Sizes.push_back(std::strtoll(argv[i], nullptr, 10));
  if (Sizes.empty()) Sizes = {1000000, 10000000};
  const auto& Engines = bench::Engines();
  std::printf("Bytes per transaction: private heap / resident memory\n\n| transactions | N |");
  for (const auto& E : Engines)
    std::printf(" %s |", E.Name);
  std::printf("\n|---|---|");
  for (std::size_t i = 0; i < Engines.size(); ++i)
    std::printf("---|");
  std::printf("\n");
  std::fflush(stdout);
  // Each case runs in a child of its own, so that the resident memory that
  // one run gave back to the C library does not serve the next.
  auto InChild = [](auto&& Case) {
    const pid_t Child = fork();
    if (Child == 0) {
      Case();
      std::fflush(stdout);
      std::_Exit(0);
    }
    int Status = 0;
    if (Child > 0) waitpid(Child, &Status, 0);
  };
  for (const int64_t N : Sizes)
    for (const bool Pending : {false, true}) {
      std::printf("| %s | %lld |", Pending ? "with a pending activation" : "waiting in a queue",
                  static_cast<long long>(N));
      std::fflush(stdout);
      for (const auto& E : Engines) {
        InChild([&] {
          const TResult R = Run(N, Pending, true, E);
          if (R.Message.empty())
            std::printf(" %.1f / %.1f |", R.HeapBytes, R.ResidentBytes);
          else
            std::printf(" stopped at %lld |", static_cast<long long>(R.Made));
        });
        std::fflush(stdout);
      }
      std::printf("\n");
    }
  InChild([&] {
    const auto Scalable = std::find_if(Engines.begin(), Engines.end(), [](const auto& E) {
      return std::string(E.Name) == "scalable";
    });
    const TResult Capped = Run(Sizes.back(), false, false, *Scalable);
    std::printf("\nwithout SetLargeHeap (HeapSize 128): %lld of %lld waiting, then: %s\n",
                static_cast<long long>(Capped.Made), static_cast<long long>(Sizes.back()),
                Capped.Message.c_str());
  });
  return 0;
}
