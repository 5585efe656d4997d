#include <algorithm>
#include <cstdio>
#include <ostream>

#include "models.h"

namespace quorin::examples {

void PrintFigures(const std::vector<TFigure>& Figures, std::ostream& Out) {
  std::size_t Width = 6;
  for (const TFigure& F : Figures)
    Width = std::max(Width, F.Name.size());
  char Line[256];
  std::snprintf(Line, sizeof Line, "%-*s  %12s  %14s\n", int(Width), "Figure", "Simulated",
                "Theory");
  Out << '\n' << Line;
  for (const TFigure& F : Figures) {
    char Simulated[32];
    if (F.Count)
      std::snprintf(Simulated, sizeof Simulated, "%12.0f", F.Simulated);
    else
      std::snprintf(Simulated, sizeof Simulated, "%12.5f", F.Simulated);
    char Theory[32];
    if (F.Theory)
      std::snprintf(Theory, sizeof Theory, F.Count ? "%14.0f" : "%14.5f", *F.Theory);
    else
      std::snprintf(Theory, sizeof Theory, "%14s", F.NoTheory.c_str());
    std::snprintf(Line, sizeof Line, "%-*s  %s  %s\n", int(Width), F.Name.c_str(), Simulated,
                  Theory);
    Out << Line;
  }
  Out << '\n';
}

void PrintRunLength(std::ostream& Out, double WarmUp, double Measured, const char* Unit) {
  char Line[256];
  if (WarmUp > 0)
    std::snprintf(Line, sizeof Line, "Warm-up of %.0f %s removed, then %.0f %s measured.", WarmUp,
                  Unit, Measured, Unit);
  else
    std::snprintf(Line, sizeof Line, "No warm-up removed: %.0f %s measured from the start.",
                  Measured, Unit);
  Out << Line << "\nEach figure comes from this single run (one replication).\n";
}

} // namespace quorin::examples
