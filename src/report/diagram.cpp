// Layout and SVG of model diagrams. The layout is a small layered drawing:
// columns by longest path over the forward routes, rows ordered by the mean
// row of the neighbours, arrows as curves between columns and as orthogonal
// lanes around the blocks where a curve would cross one.
#include "quorin/diagram.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <ostream>
#include <set>

#include "quorin/classinfo.h"
#include "quorin/package.h"
#include "quorin/report.h"

namespace quorin {

int32_t TDiagram::Find(const std::string& Id) const {
  for (std::size_t i = 0; i < Nodes.size(); ++i)
    if (Nodes[i].Id == Id) return int32_t(i);
  return -1;
}

// Read from the class's description: a new class with a Capacity or a
// Preemptive property, or that keeps transactions by priority, gets its
// notes with no change here.
std::vector<std::string> BlockNotes(const TComponent& C) {
  std::vector<std::string> Notes;
  const TClassInfo& Info = *ClassInfoOf(C);
  const TClassTraits& Traits = TraitsOf(Info);
  if (const TPropertyInfo* P = Info.FindProperty("Capacity")) {
    const auto N = static_cast<int64_t>(P->Get(C));
    // A divider's capacity is its number of copies, an assembler's the
    // number it joins (their CapacityNote); a holding block's 0 means no
    // limit.
    if (Traits.CapacityNote)
      Notes.push_back(std::string(Traits.CapacityNote).append(" ").append(std::to_string(N)));
    else if (N > 0)
      Notes.push_back("capacity " + std::to_string(N));
  }
  if (Traits.ByPriority) Notes.push_back("by priority");
  if (const TPropertyInfo* P = Info.FindProperty("Preemptive"); P && P->Get(C) != 0)
    Notes.push_back("preemptive");
  return Notes;
}

TDiagram DiagramOfModel(const TModel& Model,
                        const std::vector<std::pair<const TBlock*, const TBlock*>>& Passes) {
  TDiagram D;
  std::map<const TAggregate*, int32_t> Index;
  for (TAggregate* A : Model.Aggregates()) {
    const bool Block = dynamic_cast<TBlock*>(A) != nullptr;
    Index[A] = int32_t(D.Nodes.size());
    D.Nodes.push_back({A->DisplayName(), ClassNameOf(*A), BlockNotes(*A), Block});
  }
  for (const auto& [From, To] : Passes)
    if (Index.count(From) && Index.count(To)) D.Edges.push_back({Index[From], Index[To], "", false});
  return D;
}

namespace {

constexpr double Icon = 40;      // the palette image's square
constexpr double Frame = 2;      // between the image and the frame drawn round it
constexpr double LineH = 13;     // a line of text under a block
constexpr double LaneGap = 22;   // between two lanes around the blocks
constexpr double ExitGap = 10;   // between two vertical legs in a gutter

std::string Escape(const std::string& S) {
  std::string Out;
  for (char C : S) {
    if (C == '<')
      Out += "&lt;";
    else if (C == '>')
      Out += "&gt;";
    else if (C == '&')
      Out += "&amp;";
    else if (C == '"')
      Out += "&quot;";
    else
      Out += C;
  }
  return Out;
}

std::string Num(double V) {
  char Buffer[32];
  std::snprintf(Buffer, sizeof Buffer, "%.1f", V);
  std::string S = Buffer;
  if (S.size() > 2 && S.compare(S.size() - 2, 2, ".0") == 0) S.resize(S.size() - 2);
  return S;
}

std::string Hex(uint32_t Colour) {
  char Buffer[8];
  std::snprintf(Buffer, sizeof Buffer, "#%06X", Colour & 0xFFFFFFu);
  return Buffer;
}

std::string Upper(std::string S) {
  for (char& C : S)
    C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
  return S;
}

// Widths of text as a sans-serif face sets it, near enough for layout.
double TextWidth(const std::string& S, double PerChar) {
  return double(S.size()) * PerChar;
}

// A label's lines (merged arrows carry one line each) and its box.
std::vector<std::string> LabelLines(const std::string& Label) {
  std::vector<std::string> Lines(1);
  for (char C : Label)
    if (C == '\n')
      Lines.emplace_back();
    else
      Lines.back() += C;
  return Lines;
}
double LabelWidth(const std::string& Label) {
  double W = 0;
  for (const auto& Line : LabelLines(Label))
    W = std::max(W, TextWidth(Line, 6.4) + 8);
  return W;
}
double LabelHeight(const std::string& Label) {
  return 13 * double(LabelLines(Label).size()) + 2;
}

// The palette image as a symbol: one rectangle per run of equal pixels in a
// row, background left out.
void WriteSymbol(const std::string& Class, std::ostream& Out) {
  TPaletteBitmap B;
  if (!PaletteBitmap(Upper(Class), B)) return;
  const uint8_t Background = B.Pixels[TPaletteBitmap::Size - 1][0];
  Out << "<symbol id=\"sym-" << Upper(Class)
      << "\" viewBox=\"0 0 24 24\" shape-rendering=\"crispEdges\">\n";
  for (int y = 0; y < TPaletteBitmap::Size; ++y)
    for (int x = 0; x < TPaletteBitmap::Size;) {
      int End = x + 1;
      while (End < TPaletteBitmap::Size && B.Pixels[y][End] == B.Pixels[y][x])
        ++End;
      if (B.Pixels[y][x] != Background)
        Out << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << End - x
            << "\" height=\"1\" fill=\"" << Hex(B.Colours[B.Pixels[y][x]]) << "\"/>\n";
      x = End;
    }
  Out << "</symbol>\n";
}

struct TPoint {
  double X, Y;
};

struct TBox {
  double L, T, R, B;
  bool Overlaps(const TBox& O) const { return L < O.R && O.L < R && T < O.B && O.T < B; }
  bool Contains(TPoint P) const { return P.X > L && P.X < R && P.Y > T && P.Y < B; }
};

// Whether the segment P-Q passes through Box (sampled: boxes are larger
// than the step).
bool Crosses(TPoint P, TPoint Q, const TBox& Box) {
  const double Length = std::hypot(Q.X - P.X, Q.Y - P.Y);
  const int Steps = std::max(1, int(Length / 3));
  for (int i = 0; i <= Steps; ++i) {
    const double t = double(i) / Steps;
    if (Box.Contains({P.X + t * (Q.X - P.X), P.Y + t * (Q.Y - P.Y)})) return true;
  }
  return false;
}

enum class TRouteKind { Curve, Below, Above, Loop };

struct TEdgeGeometry {
  TRouteKind Kind = TRouteKind::Curve;
  int32_t Lane = 0;
  TPoint Start{}, End{};
  std::vector<TPoint> Points; // the polyline, curves sampled
  std::string Path;           // the SVG path data
};

class TLayout {
public:
  explicit TLayout(const TDiagram& D) : FD(D), N(int32_t(D.Nodes.size())) {}

  void Run() {
    if (UseSavedPlaces()) {
      Saved = true;
      Back.assign(FD.Edges.size(), false);
      Column.assign(std::size_t(N), 0);
      Columns.assign(1, {});
      Measure();
      PlaceAsSaved();
      RouteEdges();
      return;
    }
    FindBackEdges();
    AssignColumns();
    OrderRows();
    Measure();
    PlaceNodes();
    RouteEdges();
  }

  void Write(std::ostream& Out, bool Standalone);

private:
  const TDiagram& FD;
  int32_t N;
  std::vector<bool> Back;       // per edge: against the columns (or a loop)
  std::vector<int32_t> Column;  // per node
  std::vector<std::vector<int32_t>> Columns;
  std::vector<double> Width, Height; // per node, text included
  std::vector<double> CX, Top;       // per node: centre x, top of the icon
  std::vector<double> ColLeft, ColRight, ColCentre;
  std::vector<TEdgeGeometry> Geo;
  double NodesTop = 0, NodesBottom = 0, TotalW = 0, TotalH = 0;
  int32_t LanesAbove = 0, LanesBelow = 0;
  bool Saved = false; // the nodes stand where the form has them

  // The form's layout is kept when it places at least three nodes in four.
  bool UseSavedPlaces() const {
    int32_t Placed = 0;
    for (const auto& Node : FD.Nodes)
      Placed += Node.Placed;
    return N > 0 && 4 * Placed >= 3 * N;
  }

  // The form's places, scaled up until no two nodes overlap (the diagram's
  // nodes, with their text under the image, are taller than the form's);
  // the nodes without a place in a row below. The drawing starts with room
  // for the curves that leave a block rightwards and enter one from the left.
  void PlaceAsSaved() {
    std::vector<int32_t> Placed, Unplaced;
    for (int32_t v = 0; v < N; ++v)
      (FD.Nodes[std::size_t(v)].Placed ? Placed : Unplaced).push_back(v);
    double MinLeft = 1e300, MinTop = 1e300;
    for (int32_t v : Placed) {
      MinLeft = std::min(MinLeft, FD.Nodes[std::size_t(v)].Left);
      MinTop = std::min(MinTop, FD.Nodes[std::size_t(v)].Top);
    }
    CX.assign(std::size_t(N), 0);
    Top.assign(std::size_t(N), 0);
    const double Margin = 60, Gap = 8;
    // The image stands at the form's place (as on the form, where it is
    // the block's left end); the text centred under it may reach further
    // left, so the whole drawing moves right to make room for it.
    auto Place = [&](double Scale) {
      double Shift = 0;
      for (int32_t v : Placed) {
        const auto& Node = FD.Nodes[std::size_t(v)];
        CX[std::size_t(v)] = (Node.Left - MinLeft) * Scale + Icon / 2;
        Top[std::size_t(v)] = Margin + (Node.Top - MinTop) * Scale;
        Shift = std::max(Shift, Width[std::size_t(v)] / 2 - CX[std::size_t(v)]);
      }
      for (int32_t v : Placed)
        CX[std::size_t(v)] += Margin + Shift;
    };
    auto Overlap = [&] {
      for (std::size_t i = 0; i < Placed.size(); ++i)
        for (std::size_t j = i + 1; j < Placed.size(); ++j) {
          TBox A = NodeBox(Placed[i]);
          A.L -= Gap, A.T -= Gap, A.R += Gap, A.B += Gap;
          if (A.Overlaps(NodeBox(Placed[j]))) return true;
        }
      return false;
    };
    // Pairs are compared for models of a size that a form shows; a larger
    // one is drawn at the widest scale.
    double Scale = 1;
    if (Placed.size() > 400) Scale = 3;
    for (Place(Scale); Scale < 3 && Overlap(); Place(Scale)) Scale += 0.25;
    double Right = 0, Bottom = 0;
    for (int32_t v : Placed) {
      Right = std::max(Right, NodeBox(v).R);
      Bottom = std::max(Bottom, NodeBox(v).B);
    }
    double X = Margin;
    for (int32_t v : Unplaced) {
      CX[std::size_t(v)] = X + Width[std::size_t(v)] / 2;
      Top[std::size_t(v)] = Bottom + 40;
      X += Width[std::size_t(v)] + 30;
    }
    for (int32_t v : Unplaced) {
      Right = std::max(Right, NodeBox(v).R);
      Bottom = std::max(Bottom, NodeBox(v).B);
    }
    NodesTop = Margin;
    NodesBottom = Bottom;
    TotalW = Right + Margin;
  }

  TBox IconBox(int32_t v) const { return {CX[v] - Icon / 2, Top[v], CX[v] + Icon / 2, Top[v] + Icon}; }
  TBox NodeBox(int32_t v) const {
    return {CX[v] - Width[v] / 2, Top[v], CX[v] + Width[v] / 2, Top[v] + Height[v]};
  }

  // Depth-first from the sources in node order: an edge to a node still on
  // the stack closes a cycle and is drawn as going back.
  void FindBackEdges() {
    Back.assign(FD.Edges.size(), false);
    std::vector<int> State(std::size_t(N), 0); // 0 new, 1 on stack, 2 done
    std::vector<int32_t> InDegree(std::size_t(N), 0);
    for (const auto& E : FD.Edges)
      if (E.From != E.To) ++InDegree[std::size_t(E.To)];
    std::function<void(int32_t)> Visit = [&](int32_t v) {
      State[std::size_t(v)] = 1;
      for (std::size_t e = 0; e < FD.Edges.size(); ++e) {
        if (FD.Edges[e].From != v) continue;
        const int32_t w = FD.Edges[e].To;
        if (State[std::size_t(w)] == 1)
          Back[e] = true;
        else if (State[std::size_t(w)] == 0)
          Visit(w);
      }
      State[std::size_t(v)] = 2;
    };
    for (int32_t v = 0; v < N; ++v)
      if (InDegree[std::size_t(v)] == 0 && State[std::size_t(v)] == 0) Visit(v);
    for (int32_t v = 0; v < N; ++v)
      if (State[std::size_t(v)] == 0) Visit(v);
  }

  // Longest path over the forward edges, so that every forward arrow points
  // right.
  void AssignColumns() {
    Column.assign(std::size_t(N), 0);
    for (int32_t Pass = 0; Pass < N; ++Pass) {
      bool Changed = false;
      for (std::size_t e = 0; e < FD.Edges.size(); ++e) {
        const auto& E = FD.Edges[e];
        if (Back[e]) continue;
        if (Column[std::size_t(E.To)] < Column[std::size_t(E.From)] + 1) {
          Column[std::size_t(E.To)] = Column[std::size_t(E.From)] + 1;
          Changed = true;
        }
      }
      if (!Changed) break;
    }
    const int32_t Count = N ? *std::max_element(Column.begin(), Column.end()) + 1 : 0;
    Columns.assign(std::size_t(Count), {});
    for (int32_t v = 0; v < N; ++v)
      Columns[std::size_t(Column[std::size_t(v)])].push_back(v);
  }

  // A few sweeps of the barycentre heuristic: each node moves towards the
  // mean row of its neighbours in the column before (then after).
  void OrderRows() {
    std::vector<double> Row(std::size_t(N), 0);
    auto Number = [&] {
      for (const auto& C : Columns)
        for (std::size_t i = 0; i < C.size(); ++i)
          Row[std::size_t(C[i])] = double(i) - double(C.size() - 1) / 2;
    };
    Number();
    for (int Sweep = 0; Sweep < 6; ++Sweep) {
      const bool Forward = Sweep % 2 == 0;
      for (std::size_t c = 0; c < Columns.size(); ++c) {
        auto& C = Columns[Forward ? c : Columns.size() - 1 - c];
        std::vector<std::pair<double, int32_t>> Keyed;
        for (std::size_t i = 0; i < C.size(); ++i) {
          const int32_t v = C[i];
          double Sum = 0;
          int Count = 0;
          for (std::size_t e = 0; e < FD.Edges.size(); ++e) {
            const auto& E = FD.Edges[e];
            if (Back[e]) continue;
            if (Forward && E.To == v) Sum += Row[std::size_t(E.From)], ++Count;
            if (!Forward && E.From == v) Sum += Row[std::size_t(E.To)], ++Count;
          }
          Keyed.push_back({Count ? Sum / Count : Row[std::size_t(v)], v});
        }
        std::stable_sort(Keyed.begin(), Keyed.end(),
                         [](const auto& A, const auto& B) { return A.first < B.first; });
        for (std::size_t i = 0; i < C.size(); ++i)
          C[i] = Keyed[i].second;
        for (std::size_t i = 0; i < C.size(); ++i)
          Row[std::size_t(C[i])] = double(i) - double(C.size() - 1) / 2;
      }
    }
  }

  void Measure() {
    Width.assign(std::size_t(N), 0);
    Height.assign(std::size_t(N), 0);
    for (int32_t v = 0; v < N; ++v) {
      const auto& Node = FD.Nodes[std::size_t(v)];
      double W = std::max(Icon + 10, TextWidth(Node.Id, 7.6) + 6);
      W = std::max(W, TextWidth(Node.Class, 6.0) + 6);
      for (const auto& Note : Node.Notes)
        W = std::max(W, TextWidth(Note, 6.0) + 6);
      Width[std::size_t(v)] = W;
      Height[std::size_t(v)] = Icon + 4 + LineH * double(2 + Node.Notes.size());
    }
  }

  // Which edges need a lane, and which gutter legs they take, is known
  // before the columns get their places: a curve is tested against the
  // blocks later and moves to a lane above when one is in its way.
  void PlaceNodes() {
    const std::size_t C = Columns.size();
    double MaxH = 0;
    std::size_t MaxRows = 0;
    for (int32_t v = 0; v < N; ++v)
      MaxH = std::max(MaxH, Height[std::size_t(v)]);
    for (const auto& Col : Columns)
      MaxRows = std::max(MaxRows, Col.size());
    const double Pitch = MaxH + 40;
    // Gutter legs: an arrow that leaves its column through a lane goes
    // down (or up) just right of its column, and comes in just left of its
    // target's column.
    std::vector<int32_t> ExitsRight(C, 0), EntriesLeft(C, 0);
    for (std::size_t e = 0; e < FD.Edges.size(); ++e) {
      const auto& E = FD.Edges[e];
      if (E.From == E.To) continue;
      const bool Long = !Back[e] && Column[std::size_t(E.To)] > Column[std::size_t(E.From)] + 1;
      if (Back[e] || Long) {
        ++ExitsRight[std::size_t(Column[std::size_t(E.From)])];
        ++EntriesLeft[std::size_t(Column[std::size_t(E.To)])];
      }
    }
    // A gutter is wide enough for the labels of the curves that cross it.
    std::vector<double> Gutter(C, 90);
    for (const auto& E : FD.Edges)
      if (Column[std::size_t(E.To)] == Column[std::size_t(E.From)] + 1)
        Gutter[std::size_t(Column[std::size_t(E.From)])] =
            std::max(Gutter[std::size_t(Column[std::size_t(E.From)])], LabelWidth(E.Label) + 30);
    ColLeft.assign(C, 0);
    ColRight.assign(C, 0);
    ColCentre.assign(C, 0);
    double X = 24;
    for (std::size_t c = 0; c < C; ++c) {
      double Half = 0;
      for (int32_t v : Columns[c])
        Half = std::max(Half, Width[std::size_t(v)] / 2);
      X += ExitGap * (EntriesLeft[c] + (EntriesLeft[c] ? 1 : 0));
      ColLeft[c] = X;
      ColCentre[c] = X + Half;
      ColRight[c] = X + 2 * Half;
      X = ColRight[c] + ExitGap * (ExitsRight[c] + (ExitsRight[c] ? 1 : 0)) + Gutter[c];
    }
    TotalW = X - (C ? Gutter[C - 1] : 0) + 24;
    // Rows: each column centred on the tallest one, so that a chain of
    // single blocks lies on one line.
    int32_t Long = 0;
    for (std::size_t e = 0; e < FD.Edges.size(); ++e)
      if (!Back[e] && Column[std::size_t(FD.Edges[e].To)] > Column[std::size_t(FD.Edges[e].From)] + 1)
        ++Long;
    // Room above for self loops and, at most, one lane per long arrow.
    NodesTop = 34 + LaneGap * Long;
    CX.assign(std::size_t(N), 0);
    Top.assign(std::size_t(N), 0);
    for (std::size_t c = 0; c < C; ++c) {
      const auto& Col = Columns[c];
      const double Offset = (double(MaxRows) - double(Col.size())) * Pitch / 2;
      for (std::size_t i = 0; i < Col.size(); ++i) {
        CX[std::size_t(Col[i])] = ColCentre[c];
        Top[std::size_t(Col[i])] = NodesTop + Offset + double(i) * Pitch;
      }
    }
    NodesBottom = NodesTop + double(MaxRows) * Pitch - 40;
  }

  static std::string Polyline(const std::vector<TPoint>& P) {
    std::string D;
    for (std::size_t i = 0; i < P.size(); ++i)
      D.append(i ? " L" : "M").append(Num(P[i].X)).append(",").append(Num(P[i].Y));
    return D;
  }

  void RouteEdges() {
    const std::size_t M = FD.Edges.size();
    Geo.assign(M, {});
    // Which edges run as curves: forward ones whose curve no block is in the
    // way of. The others take lanes.
    auto CurveHits = [&](int32_t From, int32_t To) {
      const TPoint P{CX[std::size_t(From)] + Icon / 2, Top[std::size_t(From)] + Icon / 2};
      const TPoint Q{CX[std::size_t(To)] - Icon / 2, Top[std::size_t(To)] + Icon / 2};
      for (int32_t v = 0; v < N; ++v) {
        if (v == From || v == To) continue;
        TBox B = NodeBox(v);
        B.L -= 4, B.R += 4, B.T -= 4, B.B += 4;
        if (Crosses(P, Q, B)) return true;
      }
      return false;
    };
    for (std::size_t e = 0; e < M; ++e) {
      const auto& E = FD.Edges[e];
      if (E.From == E.To)
        Geo[e].Kind = TRouteKind::Loop;
      else if (Saved)
        continue; // the form's layout is the modeller's: arrows follow it as curves
      else if (Back[e])
        Geo[e].Kind = TRouteKind::Below;
      else if (CurveHits(E.From, E.To))
        Geo[e].Kind = TRouteKind::Above;
    }
    // Lanes: the shorter arrows nearer the blocks, so that lanes nest.
    auto Span = [&](std::size_t e) {
      return std::abs(CX[std::size_t(FD.Edges[e].From)] - CX[std::size_t(FD.Edges[e].To)]);
    };
    for (TRouteKind Kind : {TRouteKind::Below, TRouteKind::Above}) {
      std::vector<std::size_t> Lanes;
      for (std::size_t e = 0; e < M; ++e)
        if (Geo[e].Kind == Kind) Lanes.push_back(e);
      std::stable_sort(Lanes.begin(), Lanes.end(),
                       [&](std::size_t A, std::size_t B) { return Span(A) < Span(B); });
      for (std::size_t k = 0; k < Lanes.size(); ++k)
        Geo[Lanes[k]].Lane = int32_t(k);
      (Kind == TRouteKind::Below ? LanesBelow : LanesAbove) = int32_t(Lanes.size());
    }

    // Ports: the arrows leaving a block share its right border, those coming
    // in its left border, each ordered by where its other end lies so that
    // they do not cross at the block. Arrows to lanes above take the top
    // places, arrows to lanes below the bottom ones.
    auto SortKey = [&](std::size_t e, bool Leaving) {
      const auto& G = Geo[e];
      const int32_t Other = Leaving ? FD.Edges[e].To : FD.Edges[e].From;
      // Outer lanes take the places nearer the lanes' side, so that the
      // legs of nested lanes do not cross.
      if (G.Kind == TRouteKind::Above) return -1e6 + G.Lane;
      if (G.Kind == TRouteKind::Below) return 1e6 - G.Lane;
      return Top[std::size_t(Other)];
    };
    std::vector<std::vector<std::size_t>> Out(static_cast<std::size_t>(N)), In(static_cast<std::size_t>(N));
    for (std::size_t e = 0; e < M; ++e) {
      if (Geo[e].Kind == TRouteKind::Loop) continue;
      Out[std::size_t(FD.Edges[e].From)].push_back(e);
      In[std::size_t(FD.Edges[e].To)].push_back(e);
    }
    for (int32_t v = 0; v < N; ++v) {
      auto Place = [&](std::vector<std::size_t>& List, bool Leaving) {
        std::stable_sort(List.begin(), List.end(), [&](std::size_t A, std::size_t B) {
          return SortKey(A, Leaving) < SortKey(B, Leaving);
        });
        for (std::size_t i = 0; i < List.size(); ++i) {
          const double Y = Top[std::size_t(v)] + Icon * double(i + 1) / double(List.size() + 1);
          const double X = CX[std::size_t(v)] + (Leaving ? Icon / 2 + Frame : -Icon / 2 - Frame);
          (Leaving ? Geo[List[i]].Start : Geo[List[i]].End) = {X, Y};
        }
      };
      Place(Out[std::size_t(v)], true);
      Place(In[std::size_t(v)], false);
    }

    // Gutter legs, numbered per column side in the order of the ports, so
    // that the legs of one block do not cross each other.
    std::vector<int32_t> RightLegs(Columns.size(), 0), LeftLegs(Columns.size(), 0);
    std::vector<std::size_t> Order(M);
    for (std::size_t e = 0; e < M; ++e)
      Order[e] = e;
    std::stable_sort(Order.begin(), Order.end(),
                     [&](std::size_t A, std::size_t B) { return Geo[A].Lane < Geo[B].Lane; });
    std::vector<int32_t> RoundOut(std::size_t(N), 0), RoundIn(std::size_t(N), 0);
    std::map<long, int32_t> LanesAt;
    for (std::size_t e : Order) {
      auto& G = Geo[e];
      const auto& E = FD.Edges[e];
      const std::size_t CF = std::size_t(Column[std::size_t(E.From)]);
      const std::size_t CT = std::size_t(Column[std::size_t(E.To)]);
      if (Saved && G.Kind == TRouteKind::Curve && G.End.X < G.Start.X + 60) {
        // On the form's layout, an arrow to a block that is not well to the
        // right goes round: out to the right of its block, along a lane
        // between the two blocks (or past both), in from the left.
        // Legs of one block and lanes at one height are set apart, so that
        // no two arrows share a stretch.
        const TBox F = NodeBox(E.From), T = NodeBox(E.To);
        const double LegOut = F.R + 12 + ExitGap * RoundOut[std::size_t(E.From)]++;
        const double LegIn = T.L - 12 - ExitGap * RoundIn[std::size_t(E.To)]++;
        double LaneY;
        if (T.T - F.B >= 24)
          LaneY = (F.B + T.T) / 2;
        else if (F.T - T.B >= 24)
          LaneY = (T.B + F.T) / 2;
        else
          LaneY = std::max(F.B, T.B) + 14;
        LaneY += ExitGap * LanesAt[std::lround(LaneY)]++;
        G.Points = {G.Start, {LegOut, G.Start.Y}, {LegOut, LaneY}, {LegIn, LaneY}, {LegIn, G.End.Y},
                    G.End};
        G.Path = Polyline(G.Points);
        NodesBottom = std::max(NodesBottom, LaneY);
      } else if (G.Kind == TRouteKind::Curve) {
        const double Dx = std::max(30.0, (G.End.X - G.Start.X) * 0.45);
        // Built by appending: the prefix forms of operator+ trip a false
        // -Wrestrict warning of g++ 12.
        G.Path.append("M").append(Num(G.Start.X)).append(",").append(Num(G.Start.Y));
        G.Path.append(" C").append(Num(G.Start.X + Dx)).append(",").append(Num(G.Start.Y));
        G.Path.append(" ").append(Num(G.End.X - Dx)).append(",").append(Num(G.End.Y));
        G.Path.append(" ").append(Num(G.End.X)).append(",").append(Num(G.End.Y));
        for (int i = 0; i <= 24; ++i) {
          const double t = i / 24.0, u = 1 - t;
          const double X = u * u * u * G.Start.X + 3 * u * u * t * (G.Start.X + Dx) +
                           3 * u * t * t * (G.End.X - Dx) + t * t * t * G.End.X;
          const double Y = (u * u * u + 3 * u * u * t) * G.Start.Y + (3 * u * t * t + t * t * t) * G.End.Y;
          G.Points.push_back({X, Y});
        }
      } else if (G.Kind == TRouteKind::Loop) {
        const int32_t v = E.From;
        const double R = CX[std::size_t(v)] + Icon / 2 + Frame, T = Top[std::size_t(v)] - Frame;
        G.Points = {{R, T + 10}, {R + 12, T + 10}, {R + 12, T - 16}, {CX[std::size_t(v)], T - 16},
                    {CX[std::size_t(v)], T}};
        G.Path = Polyline(G.Points);
      } else {
        const double LegOut = ColRight[CF] + ExitGap * (1 + RightLegs[CF]++);
        const double LegIn = ColLeft[CT] - ExitGap * (1 + LeftLegs[CT]++);
        const double LaneY = G.Kind == TRouteKind::Below
                                 ? NodesBottom + 26 + LaneGap * G.Lane
                                 : NodesTop - 30 - LaneGap * G.Lane;
        G.Points = {G.Start, {LegOut, G.Start.Y}, {LegOut, LaneY}, {LegIn, LaneY}, {LegIn, G.End.Y},
                    G.End};
        G.Path = Polyline(G.Points);
      }
    }
    TotalH = NodesBottom + 26 + LaneGap * std::max(0, LanesBelow) + 10;
  }
};

// Where a label goes: candidates along its own arrow, scored by what the
// label's box would cover; the first of the best wins.
struct TLabelPlacer {
  std::vector<TBox> Taken;  // blocks and labels already placed
  const std::vector<TEdgeGeometry>* Geo = nullptr;

  TPoint Place(std::size_t Edge, double W, double H) {
    const auto& G = (*Geo)[Edge];
    std::vector<TPoint> Candidates;
    if (G.Kind == TRouteKind::Curve) {
      for (double f : {0.5, 0.4, 0.6, 0.3, 0.7, 0.22, 0.78})
        Candidates.push_back(At(G.Points, f));
    } else {
      // On the longest horizontal piece: the lane, or the loop's top.
      std::size_t Best = 0;
      double Longest = -1;
      for (std::size_t i = 0; i + 1 < G.Points.size(); ++i)
        if (G.Points[i].Y == G.Points[i + 1].Y &&
            std::abs(G.Points[i + 1].X - G.Points[i].X) > Longest)
          Longest = std::abs(G.Points[i + 1].X - G.Points[i].X), Best = i;
      const TPoint A = G.Points[Best], B = G.Points[Best + 1];
      for (double f : {0.5, 0.35, 0.65, 0.2, 0.8})
        Candidates.push_back({A.X + f * (B.X - A.X), A.Y});
    }
    double BestScore = 1e18;
    TPoint Chosen = Candidates.front();
    for (std::size_t c = 0; c < Candidates.size(); ++c) {
      const TPoint P = Candidates[c];
      const TBox Box{P.X - W / 2, P.Y - H / 2, P.X + W / 2, P.Y + H / 2};
      double Score = double(c);
      for (const TBox& T : Taken)
        if (Box.Overlaps(T)) Score += 1000;
      for (std::size_t e = 0; e < Geo->size(); ++e) {
        if (e == Edge) continue;
        const auto& P2 = (*Geo)[e].Points;
        for (std::size_t i = 0; i + 1 < P2.size(); ++i)
          if (Crosses(P2[i], P2[i + 1], Box)) {
            Score += 40;
            break;
          }
      }
      if (Score < BestScore) BestScore = Score, Chosen = P;
    }
    Taken.push_back({Chosen.X - W / 2, Chosen.Y - H / 2, Chosen.X + W / 2, Chosen.Y + H / 2});
    return Chosen;
  }

  static TPoint At(const std::vector<TPoint>& P, double Fraction) {
    double Total = 0;
    for (std::size_t i = 0; i + 1 < P.size(); ++i)
      Total += std::hypot(P[i + 1].X - P[i].X, P[i + 1].Y - P[i].Y);
    double Left = Total * Fraction;
    for (std::size_t i = 0; i + 1 < P.size(); ++i) {
      const double L = std::hypot(P[i + 1].X - P[i].X, P[i + 1].Y - P[i].Y);
      if (Left <= L && L > 0)
        return {P[i].X + (P[i + 1].X - P[i].X) * Left / L, P[i].Y + (P[i + 1].Y - P[i].Y) * Left / L};
      Left -= L;
    }
    return P.back();
  }
};

void TLayout::Write(std::ostream& Out, bool Standalone) {
  // The other components in rows of their own below.
  const double OthersTop = TotalH + 14;
  std::vector<std::pair<double, double>> OtherAt;
  double OX = 24, OY = OthersTop, RowH = 0;
  const double OtherIcon = 28;
  for (const auto& O : FD.Others) {
    const double W = std::max({OtherIcon + 10, TextWidth(O.Id, 6.6) + 8, TextWidth(O.Class, 5.6) + 8});
    if (OX + W > std::max(TotalW, 480.0) && OX > 24) OX = 24, OY += RowH + 8;
    OtherAt.push_back({OX + W / 2, OY});
    OX += W + 12;
    RowH = OtherIcon + 30;
  }
  const double W = std::max({TotalW, 200.0, OtherAt.empty() ? 0.0 : OX});
  const double H = std::max(100.0, FD.Others.empty() ? TotalH : OY + RowH + 6);

  if (Standalone) Out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  Out << "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"quorin-diagram\" width=\"" << Num(W)
      << "\" height=\"" << Num(H) << "\" viewBox=\"0 0 " << Num(W) << " " << Num(H)
      << "\" font-family=\"DejaVu Sans, Verdana, sans-serif\" font-size=\"12\">\n<defs>\n"
      << "<marker id=\"q-arrow\" viewBox=\"0 0 10 10\" refX=\"10\" refY=\"5\" markerWidth=\"7\" "
         "markerHeight=\"7\" markerUnits=\"userSpaceOnUse\" orient=\"auto\"><path d=\"M0,0 L10,5 "
         "L0,10 z\" fill=\"#3a3f4b\"/></marker>\n"
      << "<marker id=\"q-arrow-dashed\" viewBox=\"0 0 10 10\" refX=\"10\" refY=\"5\" "
         "markerWidth=\"7\" markerHeight=\"7\" markerUnits=\"userSpaceOnUse\" orient=\"auto\">"
         "<path d=\"M0,0 L10,5 L0,10 z\" fill=\"#2f6fbf\"/></marker>\n";
  std::set<std::string> Symbols;
  for (const auto& Node : FD.Nodes)
    Symbols.insert(Node.Class);
  for (const auto& O : FD.Others)
    Symbols.insert(O.Class);
  for (const std::string& S : Symbols)
    WriteSymbol(S, Out);
  Out << "</defs>\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";

  // Arrows first, then blocks, then labels over both.
  Out << "<g class=\"edges\" fill=\"none\" stroke-width=\"1.5\">\n";
  for (std::size_t e = 0; e < FD.Edges.size(); ++e) {
    const auto& E = FD.Edges[e];
    const std::string& From = FD.Nodes[std::size_t(E.From)].Id;
    const std::string& To = FD.Nodes[std::size_t(E.To)].Id;
    Out << "<path class=\"edge" << (E.Dashed ? " control" : "") << "\" data-from=\"" << Escape(From)
        << "\" data-to=\"" << Escape(To) << "\" d=\"" << Geo[e].Path << "\" stroke=\""
        << (E.Dashed ? "#2f6fbf\" stroke-dasharray=\"6 4\" marker-end=\"url(#q-arrow-dashed)"
                     : "#3a3f4b\" marker-end=\"url(#q-arrow)")
        << "\" stroke-linejoin=\"round\"><title>" << Escape(From + " -> " + To)
        << (E.Label.empty() ? "" : Escape(" (" + E.Label + ")")) << "</title></path>\n";
  }
  Out << "</g>\n";

  auto DrawNode = [&Out](const TDiagramNode& Node, double Cx, double T, double Size,
                         const char* Kind) {
    Out << "<g";
    if (*Kind) Out << " id=\"" << Escape(Node.Id) << "\" class=\"" << Kind << "\"";
    Out << " data-class=\"" << Escape(Node.Class) << "\" data-cx=\"" << Num(Cx) << "\" data-cy=\""
        << Num(T + Size / 2) << "\">\n"
        << "<rect x=\"" << Num(Cx - Size / 2 - Frame) << "\" y=\"" << Num(T - Frame)
        << "\" width=\"" << Num(Size + 2 * Frame) << "\" height=\"" << Num(Size + 2 * Frame)
        << "\" rx=\"4\" fill=\"#f4f6fa\" stroke=\"#8a93a6\"/>\n"
        << "<use href=\"#sym-" << Upper(Node.Class) << "\" x=\"" << Num(Cx - Size / 2) << "\" y=\""
        << Num(T) << "\" width=\"" << Num(Size) << "\" height=\"" << Num(Size) << "\"/>\n";
    double Y = T + Size + 4 + 11;
    Out << "<text x=\"" << Num(Cx) << "\" y=\"" << Num(Y)
        << "\" text-anchor=\"middle\" font-weight=\"bold\" fill=\"#1d2230\">" << Escape(Node.Id)
        << "</text>\n";
    Y += LineH;
    Out << "<text x=\"" << Num(Cx) << "\" y=\"" << Num(Y)
        << "\" text-anchor=\"middle\" font-size=\"10\" fill=\"#6b7385\">" << Escape(Node.Class)
        << "</text>\n";
    for (const auto& Note : Node.Notes) {
      Y += LineH;
      Out << "<text x=\"" << Num(Cx) << "\" y=\"" << Num(Y)
          << "\" text-anchor=\"middle\" font-size=\"10\" fill=\"#8a4b08\">" << Escape(Note)
          << "</text>\n";
    }
    Out << "</g>\n";
  };
  for (int32_t v = 0; v < N; ++v) {
    const auto& Node = FD.Nodes[std::size_t(v)];
    DrawNode(Node, CX[std::size_t(v)], Top[std::size_t(v)], Icon, Node.Block ? "block" : "scheduler");
  }
  for (std::size_t i = 0; i < FD.Others.size(); ++i)
    DrawNode(FD.Others[i], OtherAt[i].first, OtherAt[i].second, OtherIcon, "");

  TLabelPlacer Placer;
  Placer.Geo = &Geo;
  for (int32_t v = 0; v < N; ++v) {
    TBox B = NodeBox(v);
    B.T -= 2;
    Placer.Taken.push_back(B);
  }
  Out << "<g class=\"labels\" font-size=\"11\">\n";
  for (std::size_t e = 0; e < FD.Edges.size(); ++e) {
    const auto& E = FD.Edges[e];
    if (E.Label.empty()) continue;
    const double LW = LabelWidth(E.Label), LH = LabelHeight(E.Label);
    const TPoint P = Placer.Place(e, LW, LH);
    const char* Colour = E.Dashed ? "#2f6fbf" : "#3a3f4b";
    Out << "<g class=\"label\"><rect x=\"" << Num(P.X - LW / 2) << "\" y=\"" << Num(P.Y - LH / 2)
        << "\" width=\"" << Num(LW) << "\" height=\"" << Num(LH)
        << "\" rx=\"3\" fill=\"white\" stroke=\"" << Colour << "\" stroke-width=\"0.8\"/>";
    double Y = P.Y - LH / 2 + 11;
    for (const auto& Line : LabelLines(E.Label)) {
      Out << "<text x=\"" << Num(P.X) << "\" y=\"" << Num(Y) << "\" text-anchor=\"middle\" fill=\""
          << Colour << "\">" << Escape(Line) << "</text>";
      Y += 13;
    }
    Out << "</g>\n";
  }
  Out << "</g>\n</svg>\n";
}

} // namespace

void WriteDiagramSvg(const TDiagram& Diagram, std::ostream& Out, bool Standalone) {
  // Arrows with the same ends and style are drawn once, with their labels
  // joined: two arrows on one path could not be told apart.
  TDiagram Merged = Diagram;
  Merged.Edges.clear();
  for (const TDiagramEdge& E : Diagram.Edges) {
    auto Same = std::find_if(Merged.Edges.begin(), Merged.Edges.end(), [&E](const TDiagramEdge& M) {
      return M.From == E.From && M.To == E.To && M.Dashed == E.Dashed;
    });
    if (Same == Merged.Edges.end())
      Merged.Edges.push_back(E);
    else if (!E.Label.empty())
      Same->Label += Same->Label.empty() ? E.Label : "\n" + E.Label;
  }
  TLayout Layout(Merged);
  Layout.Run();
  Layout.Write(Out, Standalone);
}

} // namespace quorin
