// Loading a large model file: N objects (default 150000), each a queue that
// routes to the next, the last a terminator; prints the seconds of CPU time
// of the load and of building the text, the median of a few rounds.
//
//   modelfile_load [objects] [rounds (default 3)]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>


#include "quorin/modelfile.h"
#include "timing.h"

using namespace quorin;

using bench::CpuSeconds;

int main(int argc, char** argv) {
  const int N = argc > 1 ? std::atoi(argv[1]) : 150000;
  const int Rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  if (N < 1 || Rounds < 1) {
    std::fprintf(stderr, "usage: %s [objects >= 1] [rounds >= 1]\n", argv[0]);
    return 2;
  }
  std::string Text = "object Form: TComponent\n  object Model: TModel end\n";
  for (int i = 0; i < N; ++i) {
    Text += "  object Q" + std::to_string(i) + ": TQueue\n    OnRouting = PassTo(Q";
    Text += std::to_string(i + 1) + ")\n  end\n";
  }
  Text += "  object Q" + std::to_string(N) + ": TTerminator end\nend\n";
  std::vector<double> Times;
  for (int r = 0; r < Rounds; ++r) {
    std::vector<std::string> Errors;
    const double Start = CpuSeconds();
    auto File = LoadModelText(Text, "big.qm", {}, Errors);
    File.reset();
    Times.push_back(CpuSeconds() - Start);
    if (!Errors.empty()) {
      std::fprintf(stderr, "%s\n", Errors[0].c_str());
      return 1;
    }
  }
  std::sort(Times.begin(), Times.end());
  std::printf("%d objects (%zu bytes): %.2f s to load and free (median of %d)\n", N, Text.size(),
              Times[Times.size() / 2], Rounds);
  return 0;
}
