// The experiment's part of the report page: the replications and the Welch
// series as members of the page's data.
#include <ostream>

#include "quorin/experiment.h"
#include "quorin/page.h"

namespace quorin {

void WriteExperimentPageJson(const TExperiment& E, const TExperimentResult& R, std::ostream& Out) {
  std::vector<const TReplicationResult*> Ok;
  for (const TReplicationResult& Rep : R.Replications)
    if (Rep.Ok) Ok.push_back(&Rep);
  Out << "{\"level\":" << PageNumber(R.Level) << ",\"replications\":" << R.Replications.size()
      << ",\"failed\":" << R.Failed << ",\"warmup\":" << PageNumber(R.WarmUp)
      << ",\"run_length\":" << PageNumber(R.RunLength) << ",\"numbers\":[";
  for (std::size_t i = 0; i < Ok.size(); ++i)
    Out << (i ? "," : "") << Ok[i]->Number;
  // A priority class that no replication reported is left out.
  std::vector<std::size_t> Shown;
  for (std::size_t f = 0; f < R.Figures.size(); ++f)
    if (!(f < E.Figures.size() && E.Figures[f].Prty >= 0 && R.Figures[f].Summary.N == 0))
      Shown.push_back(f);
  Out << "],\"statistics\":[";
  for (std::size_t k = 0; k < Shown.size(); ++k) {
    const std::size_t f = Shown[k];
    const TFigureResult& F = R.Figures[f];
    const TFigureSpec* Asked = f < E.Figures.size() ? &E.Figures[f] : nullptr;
    const bool Report = Asked && !Asked->Block.empty();
    const TSummary& S = F.Summary;
    auto Number = [&S](double V) { return S.N ? PageNumber(V) : std::string("null"); };
    Out << (k ? "," : "") << "{\"name\":" << PageString(F.Name)
        << ",\"block\":" << PageString(Report ? Asked->Block : F.Name)
        << ",\"column\":" << PageString(Report ? Asked->Column : F.Name);
    if (Asked && Asked->Prty >= 0) Out << ",\"priority\":" << Asked->Prty;
    Out << ",\"mean\":" << Number(S.Mean)
        << ",\"half\":" << (S.N > 1 ? PageNumber(S.HalfWidth) : "null")
        << ",\"low\":" << (S.N > 1 ? PageNumber(S.Low) : "null")
        << ",\"high\":" << (S.N > 1 ? PageNumber(S.High) : "null")
        << ",\"sd\":" << (S.N > 1 ? PageNumber(S.StdDev) : "null") << ",\"min\":" << Number(S.Min)
        << ",\"max\":" << Number(S.Max) << ",\"n\":" << S.N << ",\"missing\":" << F.Missing << '}';
  }
  Out << "],\"values\":[";
  for (std::size_t k = 0; k < Shown.size(); ++k) {
    const std::size_t f = Shown[k];
    Out << (k ? ",[" : "[");
    for (std::size_t i = 0; i < Ok.size(); ++i) {
      const auto& V = Ok[i]->Values;
      Out << (i ? "," : "") << (f < V.size() && V[f] ? PageNumber(*V[f]) : "null");
    }
    Out << ']';
  }
  Out << "]}";
}

void WriteWelchPageJson(const TWelchResult& W, const std::string& Figure, double Interval,
                        int32_t Window, int32_t Replications, std::ostream& Out) {
  auto Array = [&Out](const std::vector<double>& V) {
    Out << '[';
    for (std::size_t i = 0; i < V.size(); ++i)
      Out << (i ? "," : "") << PageNumber(V[i]);
    Out << ']';
  };
  Out << "{\"figure\":" << PageString(Figure) << ",\"interval\":" << PageNumber(Interval)
      << ",\"window\":" << Window << ",\"replications\":" << Replications << ",\"failed\":" << W.Failed
      << ",\"time\":";
  Array(W.Time);
  Out << ",\"mean\":";
  Array(W.Mean);
  Out << ",\"smoothed\":";
  Array(W.Smoothed);
  Out << '}';
}

} // namespace quorin
