// The diagram's geometry, read back from its SVG: arrows end at the frame of
// their target, pass through no block and no block's text, and every label
// sits on its own arrow, clear of blocks and of other labels.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
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

double Attr(const std::string& Element, const std::string& Name) {
  std::smatch M;
  std::string Pattern = " ";
  Pattern.append(Name).append("=\"([-0-9.]+)\"");
  if (!std::regex_search(Element, M, std::regex(Pattern))) return NAN;
  return std::stod(M[1]);
}

// Attributes with a space before the first, as Attr looks for them.
std::string Spaced(const std::string& Attributes) {
  return std::string(" ").append(Attributes);
}

TDrawing Read(const std::string& Svg) {
  TDrawing D;
  const std::regex Block(R"re(<g id="([^"]+)" class="(?:block|scheduler)"[^>]*>\n<rect ([^>]*)/>((?:.|\n)*?)</g>)re");
  for (auto It = std::sregex_iterator(Svg.begin(), Svg.end(), Block); It != std::sregex_iterator(); ++It) {
    TBlockShape B;
    B.Id = (*It)[1];
    const std::string Rect = Spaced((*It)[2].str());
    B.Frame = {Attr(Rect, "x"), Attr(Rect, "y"), Attr(Rect, "x") + Attr(Rect, "width"),
               Attr(Rect, "y") + Attr(Rect, "height")};
    const std::string Body = (*It)[3];
    const std::regex Text(R"re(<text ([^>]*)>([^<]*)</text>)re");
    for (auto T = std::sregex_iterator(Body.begin(), Body.end(), Text); T != std::sregex_iterator(); ++T) {
      const std::string A = Spaced((*T)[1].str());
      const double W = double((*T)[2].length()) * 6.5; // at most this wide
      B.Texts.push_back({Attr(A, "x") - W / 2, Attr(A, "y") - 10, Attr(A, "x") + W / 2, Attr(A, "y") + 2});
    }
    D.Blocks.push_back(B);
  }
  const std::regex Path(R"re(<path class="edge[^"]*" data-from="([^"]+)" data-to="([^"]+)" d="([^"]+)")re");
  for (auto It = std::sregex_iterator(Svg.begin(), Svg.end(), Path); It != std::sregex_iterator(); ++It)
    D.Arrows.push_back({(*It)[1], (*It)[2], Sample((*It)[3])});
  const std::regex Label(R"re(<g class="label"><rect ([^>]*)/>)re");
  for (auto It = std::sregex_iterator(Svg.begin(), Svg.end(), Label); It != std::sregex_iterator(); ++It) {
    const std::string A = Spaced((*It)[1].str());
    D.Labels.push_back({Attr(A, "x"), Attr(A, "y"), Attr(A, "x") + Attr(A, "width"),
                        Attr(A, "y") + Attr(A, "height")});
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

TEST(DiagramLayout, ChainsWithoutCyclesRunLeftToRightOnOneLine) {
  const TDrawing D = Read(DiagramOfFile("mm1.qm"));
  ASSERT_EQ(D.Blocks.size(), 4u);
  for (std::size_t i = 1; i < D.Blocks.size(); ++i) {
    EXPECT_GT(D.Blocks[i].Frame.L, D.Blocks[i - 1].Frame.R);
    EXPECT_EQ(D.Blocks[i].Frame.T, D.Blocks[0].Frame.T);
  }
}

} // namespace
