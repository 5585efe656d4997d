// The engines that the scale benchmarks compare, as one table: each entry
// names an engine and sets a model to it (before its first run). A new
// engine is one more entry here; pairs_compare, bench_future and scale then
// measure it too.
#pragma once

#include <vector>

#include "quorin/kernel/model.h"

namespace quorin::bench {

struct TBenchEngine {
  const char* Name;
  void (*Apply)(TModel& Model);
  // False for an engine whose statistics are kept in double: they agree
  // with the others' to about 1e-14 relative, not to the last bit.
  bool ExactStatistics = true;
};

inline const std::vector<TBenchEngine>& Engines() {
  static const std::vector<TBenchEngine> All = {
      // The C++ default: the levels list, every blocked block routed at every scan.
      {"documented", [](TModel& M) { M.SetEngine(TEngine::Documented); }},
      {"heap list",
       [](TModel& M) {
         M.SetEventList(TEventList::Heap);
         M.SetRetry(TRetry::EveryScan);
       }},
      // The default of model files, the command, Python and the runner.
      {"scalable", [](TModel& M) { M.SetEngine(TEngine::Scalable); }},
      {"fast", [](TModel& M) { M.SetEngine(TEngine::Fast); }, false},
  };
  return All;
}

} // namespace quorin::bench
