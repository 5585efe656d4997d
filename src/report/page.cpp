// The single-run report as JSON and the self-contained HTML page: the page's
// data is one JSON object in a script element, read by the page's script,
// which draws with the vendored uPlot; the diagram is inlined as SVG.
#include "quorin/page.h"

#include <algorithm>
#include <charconv>
#include <functional>
#include <cmath>
#include <cstdio>
#include <optional>
#include <ostream>
#include <sstream>

#include "page_assets.h"
#include "quorin/report.h"
#include "quorin/statsim.h"

namespace quorin {

std::string PageNumber(double V) {
  if (!std::isfinite(V)) return "null";
  char Buffer[32];
  const auto End = std::to_chars(Buffer, Buffer + sizeof Buffer, V).ptr;
  return std::string(Buffer, End);
}

std::string PageString(const std::string& S) {
  std::string Out = "\"";
  for (unsigned char C : S) {
    if (C == '"')
      Out += "\\\"";
    else if (C == '\\')
      Out += "\\\\";
    else if (C == '\n')
      Out += "\\n";
    else if (C < 0x20 || C == '<' || C == '>' || C == '&') {
      // Also '<', '>' and '&', so that the text cannot close the script
      // element that holds it.
      char Buffer[8];
      std::snprintf(Buffer, sizeof Buffer, "\\u%04x", C);
      Out += Buffer;
    } else
      Out += char(C);
  }
  return Out + "\"";
}

namespace {

// Times of the replay, to ten significant digits: enough to order and to
// show them, and a third of the size of exact numbers.
std::string Short(double V) {
  if (!std::isfinite(V)) return "null";
  char Buffer[32];
  std::snprintf(Buffer, sizeof Buffer, "%.10g", V);
  return Buffer;
}

// The page's name of a block's kind ("Server"); a block's row is never of
// the kind None.
std::string KindName(TReportKind Kind) {
  for (const TReportSectionInfo& Section : ReportSections())
    if (Section.Kind == Kind) return Section.Name;
  return "Other";
}

TComponent* ApplicationOf(const TModel& Model) {
  TComponent* Form = Model.Owner();
  return Form && Form->Owner() ? Form->Owner() : Form;
}

void CollectTabulators(TComponent* Root, std::vector<const TTabulator*>& Found) {
  if (!Root) return;
  for (int32_t i = 0; i < Root->ComponentCount(); ++i) {
    TComponent* C = Root->Components(i);
    if (auto* T = dynamic_cast<const TTabulator*>(C)) Found.push_back(T);
    CollectTabulators(C, Found);
  }
}

template <class T> void List(std::ostream& Out, const std::vector<T>& Items,
                             const std::function<void(const T&)>& Write) {
  Out << '[';
  for (std::size_t i = 0; i < Items.size(); ++i) {
    if (i) Out << ',';
    Write(Items[i]);
  }
  Out << ']';
}

void WriteSeeds(std::ostream& Out, const std::vector<std::pair<std::string, int64_t>>& Seeds) {
  Out << '[';
  for (std::size_t i = 0; i < Seeds.size(); ++i)
    Out << (i ? "," : "") << "{\"stream\":" << PageString(Seeds[i].first)
        << ",\"seed\":" << Seeds[i].second << '}';
  Out << ']';
}

void WriteContent(std::ostream& Out, const TRunRecorder& R) {
  Out << "{\"points\":" << R.Limits().Points << ",\"width\":" << PageNumber(R.Width())
      << ",\"series\":[";
  for (std::size_t s = 0; s < R.Series().size(); ++s) {
    const auto& S = R.Series()[s];
    std::ostringstream T, Mean, Min, Max;
    bool First = true;
    for (std::size_t i = 0; i < S.Buckets.size(); ++i) {
      const auto& B = S.Buckets[i];
      if (!(B.Covered > 0)) continue;
      const char* Sep = First ? "" : ",";
      First = false;
      T << Sep << Short(double(i) * R.Width() + B.Covered / 2);
      Mean << Sep << Short(B.Area / B.Covered);
      Min << Sep << B.Min;
      Max << Sep << B.Max;
    }
    Out << (s ? "," : "") << "{\"block\":" << PageString(S.Block->DisplayName())
        << ",\"t\":[" << T.str() << "],\"mean\":[" << Mean.str() << "],\"min\":[" << Min.str()
        << "],\"max\":[" << Max.str() << "]}";
  }
  Out << "]}";
}

void WriteReplay(std::ostream& Out, const TRunRecorder& R) {
  Out << "{\"limit\":" << R.Limits().Moves << ",\"passes\":" << R.Passes() << ",\"blocks\":[";
  for (std::size_t i = 0; i < R.Blocks().size(); ++i)
    Out << (i ? "," : "") << PageString(R.Blocks()[i]->DisplayName());
  Out << "],\"moves\":[";
  for (std::size_t i = 0; i < R.Moves().size(); ++i) {
    const auto& M = R.Moves()[i];
    Out << (i ? ",[" : "[") << Short(M.Time) << ',' << M.From << ',' << M.To << ',' << M.Trans
        << ',' << M.FromCount << ',' << M.ToCount << ',' << M.Serial << ',' << M.Prty << ']';
  }
  Out << "]}";
}

void WriteHistograms(std::ostream& Out, const TModel& Model) {
  std::vector<const TTabulator*> Tabs;
  CollectTabulators(ApplicationOf(Model), Tabs);
  Out << '[';
  for (std::size_t t = 0; t < Tabs.size(); ++t) {
    const TTabulator& T = *Tabs[t];
    Out << (t ? "," : "") << "{\"name\":" << PageString(T.DisplayName())
        << ",\"lower\":" << PageNumber(T.LowerBound()) << ",\"interval\":" << PageNumber(T.Interval())
        << ",\"count\":" << T.Count() << ",\"mean\":" << PageNumber(T.Count() ? T.Mean() : NAN)
        << ",\"hits\":[";
    // Bin 0 holds what fell below the lower bound, bin IntervalCount + 1
    // what fell above the last bin.
    for (int32_t i = 0; i <= int32_t(T.IntervalCount()) + 1; ++i)
      Out << (i ? "," : "") << T.Hits(uint8_t(i));
    Out << "]}";
  }
  Out << ']';
}

} // namespace

std::optional<double> ReportValue(const TReportRow& R, const std::string& Column) {
  for (const TReportColumnInfo& C : ReportColumnTable())
    if (C.Title == Column && !C.Text) {
      const auto V = C.Value(R);
      if (!V) return std::nullopt;
      return double(*V);
    }
  return std::nullopt;
}

void WriteReportJson(const TModel& Model, const TPageInfo& Info, std::ostream& Out) {
  const std::vector<TReportRow> Rows = CollectReport(Model);
  Out << "{\"title\":" << PageString(Info.Title) << ",\"model_time\":" << PageNumber(ModelTime())
      << ",\"warmup\":" << PageNumber(Info.Warmup) << ",\"until\":" << PageNumber(Info.Until)
      << ",\"seeds\":";
  WriteSeeds(Out, Info.Seeds);
  Out << ",\"findings\":[";
  for (std::size_t i = 0; i < Info.Findings.size(); ++i)
    Out << (i ? "," : "") << PageString(Info.Findings[i]);
  Out << "],\"sections\":[";
  bool FirstSection = true;
  for (const TReportSectionInfo& Section : ReportSections()) {
    std::vector<std::string> Present;
    for (const TReportRow& R : Rows)
      if (R.Kind == Section.Kind)
        for (const std::string& C : ReportColumnsOf(R))
          if (std::find(Present.begin(), Present.end(), C) == Present.end()) Present.push_back(C);
    bool Any = false;
    for (const TReportRow& R : Rows)
      Any = Any || R.Kind == Section.Kind;
    if (!Any) continue;
    Out << (FirstSection ? "" : ",") << "{\"kind\":\"" << Section.Name
        << "\",\"title\":" << PageString(Section.Title) << ",\"columns\":[";
    FirstSection = false;
    bool FirstColumn = true;
    for (std::size_t c : Section.Columns) {
      const std::string& C = ReportColumnTable()[c].Title;
      if (std::find(Present.begin(), Present.end(), C) != Present.end()) {
        Out << (FirstColumn ? "" : ",") << PageString(C);
        FirstColumn = false;
      }
    }
    Out << "]}";
  }
  Out << "],\"blocks\":[";
  for (std::size_t i = 0; i < Rows.size(); ++i) {
    const TReportRow& R = Rows[i];
    Out << (i ? "," : "") << "{\"block\":" << PageString(R.Name)
        << ",\"class\":" << PageString(R.Class) << ",\"kind\":\"" << KindName(R.Kind)
        << "\",\"section\":" << PageString(ReportSectionTitle(R.Kind));
    auto Values = [&Out](const TReportRow& Row) {
      for (const std::string& C : ReportColumnsOf(Row)) {
        const auto V = ReportValue(Row, C);
        Out << ',' << PageString(C) << ':' << (V ? PageNumber(*V) : "null");
      }
    };
    Values(R);
    // A priority block's classes, when it saw more than one.
    if (!R.Classes.empty()) {
      Out << ",\"classes\":[";
      for (std::size_t c = 0; c < R.Classes.size(); ++c) {
        Out << (c ? "," : "") << "{\"priority\":" << R.Classes[c].Prty.value_or(0);
        Values(R.Classes[c]);
        Out << '}';
      }
      Out << ']';
    }
    Out << '}';
  }
  Out << "]}";
}

namespace {

// Text for the page's title element.
std::string TitleText(const std::string& Title) {
  std::string Text;
  for (char C : Title)
    Text += C == '<' ? std::string("&lt;") : C == '&' ? std::string("&amp;") : std::string(1, C);
  return Text;
}

// Fills the marks of a template in the order they stand in it; each is
// looked for in the template only, never in what was put in before it.
void FillTemplate(const std::string& Html,
                  const std::vector<std::pair<const char*, std::string>>& Parts,
                  std::ostream& Out) {
  std::size_t At = 0;
  for (const auto& [Mark, Text] : Parts) {
    const std::size_t Found = Html.find(Mark, At);
    if (Found == std::string::npos) continue;
    Out << Html.substr(At, Found - At) << Text;
    At = Found + std::char_traits<char>::length(Mark);
  }
  Out << Html.substr(At);
}

} // namespace

void WriteScenarioPage(const std::string& Title, const std::string& Data, std::ostream& Out) {
  // JSON holds '<', '>' and '&' only inside strings, where their escapes
  // mean the same: so the data cannot close the script element.
  std::string Safe;
  for (char C : Data) {
    if (C == '<')
      Safe += "\\u003c";
    else if (C == '>')
      Safe += "\\u003e";
    else if (C == '&')
      Safe += "\\u0026";
    else
      Safe += C;
  }
  FillTemplate(page::ScenariosHtml(),
               {{"/*QUORIN_STYLE*/", page::UplotCss() + page::Css()},
                {"<!--QUORIN_TITLE-->", TitleText(Title)},
                {"/*QUORIN_DATA*/", Safe},
                {"/*QUORIN_UPLOT*/", page::UplotJs()},
                {"/*QUORIN_SCRIPT*/", page::ScenariosJs()}},
               Out);
}

void WriteReportPage(const TModel& Model, TRunRecorder* Recorder, const TPageInfo& Given,
                     std::ostream& Out) {
  TPageInfo Info = Given;
  if (Recorder) {
    Recorder->Finish();
    if (Info.Seeds.empty()) Info.Seeds = Recorder->Seeds();
  }
  TDiagram Diagram = Info.Diagram;
  if (Diagram.Nodes.empty())
    Diagram = DiagramOfModel(Model, Recorder ? Recorder->Routes()
                                             : std::vector<std::pair<const TBlock*, const TBlock*>>{});
  std::ostringstream Svg;
  WriteDiagramSvg(Diagram, Svg, false);

  std::ostringstream Data;
  Data << "{\"report\":";
  WriteReportJson(Model, Info, Data);
  Data << ",\"content\":";
  if (Recorder)
    WriteContent(Data, *Recorder);
  else
    Data << "null";
  Data << ",\"replay\":";
  if (Recorder)
    WriteReplay(Data, *Recorder);
  else
    Data << "null";
  Data << ",\"histograms\":";
  WriteHistograms(Data, Model);
  for (const auto& [Name, Json] : Info.Extra)
    Data << ',' << PageString(Name) << ':' << Json;
  Data << '}';

  // The template's marks in the order they stand in it.
  FillTemplate(page::Html(),
               {{"/*QUORIN_STYLE*/", page::UplotCss() + page::Css()},
                {"<!--QUORIN_TITLE-->", TitleText(Info.Title.empty() ? "Quorin report" : Info.Title)},
                {"<!--QUORIN_DIAGRAM-->", Svg.str()},
                {"/*QUORIN_DATA*/", Data.str()},
                {"/*QUORIN_UPLOT*/", page::UplotJs()},
                {"/*QUORIN_SCRIPT*/", page::Js()}},
               Out);
}

} // namespace quorin
