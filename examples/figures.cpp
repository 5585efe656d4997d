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
    char Theory[32] = "no closed form";
    if (F.Theory) std::snprintf(Theory, sizeof Theory, "%14.5f", *F.Theory);
    std::snprintf(Line, sizeof Line, "%-*s  %12.5f  %14s\n", int(Width), F.Name.c_str(),
                  F.Simulated, Theory);
    Out << Line;
  }
  Out << '\n';
}

} // namespace quorin::examples
