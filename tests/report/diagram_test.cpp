// The diagram's geometry, read back from its SVG: arrows end at the frame of
// their target, pass through no block and no block's text, and every label
// sits on its own arrow, clear of blocks and of other labels.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "quorin/diagram.h"
#include "quorin/modelfile.h"

using namespace quorin;

namespace {

struct TBox {
  double L, T, R, B;
  bool Contains(double X, double Y, double Margin = 0) const {
    return X > L + Margin && X < R - Margin && Y > T + Margin && Y < B - Margin;
  }
  bool Overlaps(const TBox& O) const { return L < O.R && O.L < R && T < O.B && O.T < B; }
};

struct TBlockShape {
  std::string Id;
  TBox Frame;                // the frame round the image
  std::vector<TBox> Texts;   // name, class and notes under it
};

struct TArrow {
  std::string From, To;
  std::vector<std::pair<double, double>> Points; // sampled every few pixels
};

struct TDrawing {
  std::vector<TBlockShape> Blocks;
  std::vector<TArrow> Arrows;
  std::vector<TBox> Labels;
  const TBlockShape* Find(const std::string& Id) const {
    for (const auto& B : Blocks)
      if (B.Id == Id) return &B;
    return nullptr;
  }
};

// Samples an SVG path of M, L and C commands.
std::vector<std::pair<double, double>> Sample(const std::string& D) {
  std::vector<std::pair<double, double>> Out;
  std::istringstream In(D);
  std::string Token;
  double X = 0, Y = 0;
  auto Read = [&In](double& A, double& B) {
    char Comma;
    In >> A >> Comma >> B;
  };
  char Command = 'M';
  while (In >> std::ws && In.peek() != EOF) {
    if (std::isalpha(In.peek())) Command = char(In.get());
    if (Command == 'M') {
      Read(X, Y);
      Out.push_back({X, Y});
    } else if (Command == 'L') {
      double NX, NY;
      Read(NX, NY);
      const int Steps = std::max(1, int(std::hypot(NX - X, NY - Y) / 2));
      for (int i = 1; i <= Steps; ++i)
        Out.push_back({X + (NX - X) * i / Steps, Y + (NY - Y) * i / Steps});
      X = NX, Y = NY;
    } else if (Command == 'C') {
      double X1, Y1, X2, Y2, X3, Y3;
      Read(X1, Y1), Read(X2, Y2), Read(X3, Y3);
      for (int i = 1; i <= 100; ++i) {
        const double t = i / 100.0, u = 1 - t;
        Out.push_back({u * u * u * X + 3 * u * u * t * X1 + 3 * u * t * t * X2 + t * t * t * X3,
                       u * u * u * Y + 3 * u * u * t * Y1 + 3 * u * t * t * Y2 + t * t * t * Y3});
      }
      X = X3, Y = Y3;
    } else {
      break;
    }
  }
  return Out;
}

// The number in Name="..." of Element, or NaN.
double Attr(const std::string& Element, const std::string& Name) {
  std::string Key = " ";
  Key.append(Name).append("=\"");
  const std::size_t At = Element.find(Key);
  if (At == std::string::npos) return NAN;
  return std::stod(Element.substr(At + Key.size()));
}

// The text between Open (found from At on) and the next Close; At moves
// past Close. Empty, with At at npos, when there is none.
std::string Between(const std::string& S, std::size_t& At, const std::string& Open,
                    const std::string& Close) {
  const std::size_t Start = At == std::string::npos ? At : S.find(Open, At);
  const std::size_t End = Start == std::string::npos ? Start : S.find(Close, Start + Open.size());
  if (End == std::string::npos) {
    At = std::string::npos;
    return "";
  }
  At = End + Close.size();
  return S.substr(Start + Open.size(), End - Start - Open.size());
}

// Attributes with a space before the first, as Attr looks for them (built
// by appending: the prefix form of operator+ trips a false -Wrestrict
// warning of g++ 12).
std::string Spaced(const std::string& Attributes) {
  return std::string(" ").append(Attributes);
}

TDrawing Read(const std::string& Svg) {
  TDrawing D;
  std::size_t At = 0;
  while (true) {
    const std::string Head = Between(Svg, At, "<g id=\"", ">");
    if (At == std::string::npos) break;
    const std::string Id = Head.substr(0, Head.find('"'));
    const std::size_t BodyEnd = Svg.find("</g>", At);
    const std::string Body = Svg.substr(At, BodyEnd - At);
    At = BodyEnd;
    if (Head.find("class=\"block\"") == std::string::npos &&
        Head.find("class=\"scheduler\"") == std::string::npos)
      continue;
    TBlockShape B;
    B.Id = Id;
    std::size_t In = 0;
    const std::string Rect = Spaced(Between(Body, In, "<rect ", "/>"));
    B.Frame = {Attr(Rect, "x"), Attr(Rect, "y"), Attr(Rect, "x") + Attr(Rect, "width"),
               Attr(Rect, "y") + Attr(Rect, "height")};
    while (true) {
      const std::string Text = Spaced(Between(Body, In, "<text ", "</text>"));
      if (In == std::string::npos) break;
      const double W = double(Text.size() - Text.find('>') - 1) * 6.5; // at most this wide
      B.Texts.push_back({Attr(Text, "x") - W / 2, Attr(Text, "y") - 10, Attr(Text, "x") + W / 2,
                         Attr(Text, "y") + 2});
    }
    D.Blocks.push_back(B);
  }
  At = 0;
  while (true) {
    const std::string Path = Between(Svg, At, "<path class=\"edge", ">");
    if (At == std::string::npos) break;
    std::size_t In = 0;
    const std::string From = Between(Path, In, "data-from=\"", "\"");
    const std::string To = Between(Path, In, "data-to=\"", "\"");
    const std::string Data = Between(Path, In, " d=\"", "\"");
    D.Arrows.push_back({From, To, Sample(Data)});
  }
  At = 0;
  while (true) {
    const std::string Rect = Spaced(Between(Svg, At, "<g class=\"label\"><rect ", "/>"));
    if (At == std::string::npos) break;
    D.Labels.push_back({Attr(Rect, "x"), Attr(Rect, "y"), Attr(Rect, "x") + Attr(Rect, "width"),
                        Attr(Rect, "y") + Attr(Rect, "height")});
  }
  return D;
}

// Every rule of a readable drawing, as failures of the test.
void ExpectReadable(const std::string& Svg, std::size_t BlockCount, std::size_t ArrowCount,
                    std::size_t LabelCount) {
  const TDrawing D = Read(Svg);
  ASSERT_EQ(D.Blocks.size(), BlockCount); // schedulers included
  ASSERT_EQ(D.Arrows.size(), ArrowCount);
  ASSERT_EQ(D.Labels.size(), LabelCount);
  for (const TArrow& A : D.Arrows) {
    const TBlockShape* From = D.Find(A.From);
    const TBlockShape* To = D.Find(A.To);
    ASSERT_TRUE(From && To) << A.From << " -> " << A.To;
    const auto [EX, EY] = A.Points.back();
    const TBox& F = To->Frame;
    const bool OnBorder = (std::abs(EX - F.L) < 0.6 && EY >= F.T && EY <= F.B) ||
                          (std::abs(EY - F.T) < 0.6 && EX >= F.L && EX <= F.R);
    EXPECT_TRUE(OnBorder) << A.From << " -> " << A.To << " ends at " << EX << "," << EY;
    for (const auto& [X, Y] : A.Points)
      for (const TBlockShape& B : D.Blocks) {
        if (&B != From && &B != To) {
          EXPECT_FALSE(B.Frame.Contains(X, Y, -1)) << A.From << " -> " << A.To << " through " << B.Id;
        }
        for (const TBox& T : B.Texts)
          EXPECT_FALSE(T.Contains(X, Y)) << A.From << " -> " << A.To << " through the text of " << B.Id;
      }
  }
  for (std::size_t i = 0; i < D.Labels.size(); ++i) {
    const TBox& L = D.Labels[i];
    for (const TBlockShape& B : D.Blocks) {
      EXPECT_FALSE(L.Overlaps(B.Frame)) << "label " << i << " on " << B.Id;
      for (const TBox& T : B.Texts)
        EXPECT_FALSE(L.Overlaps(T)) << "label " << i << " on the text of " << B.Id;
    }
    for (std::size_t j = 0; j < i; ++j)
      EXPECT_FALSE(L.Overlaps(D.Labels[j])) << "labels " << j << " and " << i;
    // On an arrow: its centre is on one of them.
    const double CX = (L.L + L.R) / 2, CY = (L.T + L.B) / 2;
    bool On = false;
    for (const TArrow& A : D.Arrows)
      for (const auto& [X, Y] : A.Points)
        On = On || std::hypot(X - CX, Y - CY) < 2.5;
    EXPECT_TRUE(On) << "label " << i << " is on no arrow";
  }
}

std::string DiagramOfFile(const std::string& Name) {
  std::vector<std::string> Errors;
  auto File = LoadModelFile(std::string(QUORIN_EXAMPLES_DIR) + "/" + Name, {}, Errors);
  EXPECT_TRUE(File) << Name;
  if (!File) return "";
  std::ostringstream Out;
  WriteDiagramSvg(*File, Out);
  return Out.str();
}

TEST(DiagramLayout, FeedbackNetworksAreDrawnReadably) {
  // network: 6 blocks; Door, Line1, Desk1 (2), Line2, Desk2 (2) = 7 arrows,
  // four with a probability.
  ExpectReadable(DiagramOfFile("network.qm"), 6, 7, 4);
  // workshop: two time-out routes of Intake merge into one arrow with a
  // label of two lines; the scheduler's Generate is a dashed arrow.
  const std::string Workshop = DiagramOfFile("workshop.qm");
  ExpectReadable(Workshop, 9, 9, 4);
  EXPECT_NE(Workshop.find("class=\"edge control\" data-from=\"Hourly\" data-to=\"Rush\""),
            std::string::npos);
  EXPECT_NE(Workshop.find(">OnTimeFinish</text><text"), std::string::npos);
  for (const char* Note : {">capacity 20<", ">time limit 30<", ">by priority<", ">capacity 2<"})
    EXPECT_NE(Workshop.find(Note), std::string::npos) << Note;
}

// Loops onto a block itself, long arrows past a block in their way, and
// several arrows back into one block.
TEST(DiagramLayout, LoopsLongArrowsAndManyBackArrows) {
  TDiagram D;
  for (const char* Id : {"A", "B", "C", "D", "E"})
    D.Nodes.push_back({Id, "TQueue", {}, true});
  D.Edges = {{0, 1, "", false},  {1, 2, "", false},    {2, 3, "", false},      {3, 4, "", false},
             {1, 1, "self", false}, {0, 4, "skip", false}, {3, 1, "p=0.1", false}, {4, 1, "p=0.5", false},
             {2, 0, "p=0.25", false}};
  std::ostringstream Out;
  WriteDiagramSvg(D, Out);
  ExpectReadable(Out.str(), 5, 9, 5);
  // Forward arrows point right.
  const TDrawing Drawn = Read(Out.str());
  for (std::size_t i = 0; i + 1 < Drawn.Blocks.size(); ++i)
    EXPECT_LT(Drawn.Blocks[i].Frame.L, Drawn.Blocks[i + 1].Frame.L);
}

// M/M/1 with the places a form gave its blocks: a diamond, Door on the left,
// Line above, Clerk on the right, Exit below.
std::string PlacedMm1(bool AllPlaced) {
  const std::string Door = AllPlaced ? "    Left = 0\n    Top = 200\n" : "";
  const std::string Text = "object Form: TComponent\n"
                           "  object Model: TModel end\n"
                           "  object Arrivals: TMultiRand end\n"
                           "  object Door: TGenerator\n" + Door +
                           "    OnBeforeTimeGoOn = NextArrival(Arrivals.Exponential(1.0))\n"
                           "    OnAfterGeneration = NextArrival(Arrivals.Exponential(1.0))\n"
                           "    OnRouting = PassTo(Line)\n"
                           "  end\n"
                           "  object Line: TQueue\n"
                           "    Left = 200\n    Top = 0\n"
                           "    OnRouting = PassTo(Clerk)\n"
                           "  end\n"
                           "  object Clerk: TServer\n"
                           "    Left = 400\n    Top = 200\n"
                           "    OnEnter = Hold(Arrivals.Exponential(0.8))\n"
                           "    OnRouting = PassTo(Exit)\n"
                           "  end\n"
                           "  object Exit: TTerminator\n"
                           "    Left = 200\n    Top = 400\n"
                           "  end\n"
                           "end\n";
  std::vector<std::string> Errors;
  auto File = LoadModelText(Text, "placed.qm", {}, Errors);
  EXPECT_TRUE(File) << (Errors.empty() ? "" : Errors.front());
  if (!File) return "";
  std::ostringstream Out;
  WriteDiagramSvg(*File, Out);
  return Out.str();
}

// Blocks that have their places on the form are drawn where the form has
// them; with three in four placed the form still holds, the unplaced block
// in a row below; with fewer, the automatic layout.
TEST(DiagramLayout, TheFormsPlacesAreKept) {
  const std::string Svg = PlacedMm1(true);
  ExpectReadable(Svg, 4, 3, 0);
  const TDrawing D = Read(Svg);
  const TBlockShape *Door = D.Find("Door"), *Line = D.Find("Line"), *Clerk = D.Find("Clerk"),
                    *Exit = D.Find("Exit");
  ASSERT_TRUE(Door && Line && Clerk && Exit);
  EXPECT_LT(Door->Frame.R, Line->Frame.L);
  EXPECT_LT(Line->Frame.R, Clerk->Frame.L);
  EXPECT_LT(Line->Frame.B, Door->Frame.T);
  EXPECT_GT(Exit->Frame.T, Clerk->Frame.B);
  EXPECT_DOUBLE_EQ(Door->Frame.T, Clerk->Frame.T);
  EXPECT_DOUBLE_EQ(Line->Frame.L, Exit->Frame.L);

  // Door without a place: three in four still follow the form, Door in a
  // row below them.
  const TDrawing Partly = Read(PlacedMm1(false));
  ASSERT_EQ(Partly.Blocks.size(), 4u);
  EXPECT_GT(Partly.Find("Door")->Frame.T, Partly.Find("Exit")->Frame.B);
  EXPECT_LT(Partly.Find("Line")->Frame.B, Partly.Find("Clerk")->Frame.T);

  // Fewer than three in four: the automatic layout, a chain on one line.
  TDiagram Few;
  for (const char* Id : {"A", "B", "C", "D"})
    Few.Nodes.push_back({Id, "TQueue", {}, true});
  Few.Nodes[2].Placed = Few.Nodes[3].Placed = true;
  Few.Nodes[2].Top = 500;
  Few.Edges = {{0, 1, "", false}, {1, 2, "", false}, {2, 3, "", false}};
  std::ostringstream Out;
  WriteDiagramSvg(Few, Out);
  const TDrawing Chain = Read(Out.str());
  for (std::size_t i = 1; i < Chain.Blocks.size(); ++i)
    EXPECT_EQ(Chain.Blocks[i].Frame.T, Chain.Blocks[0].Frame.T);
}

TEST(DiagramLayout, ChainsWithoutCyclesRunLeftToRightOnOneLine) {
  const TDrawing D = Read(DiagramOfFile("mm1.qm"));
  ASSERT_EQ(D.Blocks.size(), 4u);
  for (std::size_t i = 1; i < D.Blocks.size(); ++i) {
    EXPECT_GT(D.Blocks[i].Frame.L, D.Blocks[i - 1].Frame.R);
    EXPECT_EQ(D.Blocks[i].Frame.T, D.Blocks[0].Frame.T);
  }
}

} // namespace
