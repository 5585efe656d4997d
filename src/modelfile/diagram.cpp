// The diagram of a model file: its blocks with their palette images and the
// routes that the standard routing handlers name, as an SVG picture.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <ostream>
#include <set>
#include <typeinfo>

#include "quorin/modelfile.h"
#include "quorin/package.h"
#include "tables.h"

namespace quorin {

namespace {

void CollectBlocks(TComponent* Root, std::vector<TBlock*>& Blocks,
                   std::vector<TComponent*>& Others) {
  for (int32_t i = 0; i < Root->ComponentCount(); ++i) {
    TComponent* X = Root->Components(i);
    if (auto* B = dynamic_cast<TBlock*>(X))
      Blocks.push_back(B);
    else if (typeid(*X) != typeid(TComponent))
      Others.push_back(X);
    CollectBlocks(X, Blocks, Others);
  }
}

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

// The palette image as a symbol: one rectangle per run of equal pixels in
// a row, background left out.
void WriteSymbol(const std::string& Name, std::ostream& Out) {
  TPaletteBitmap B;
  if (!PaletteBitmap(Name, B)) return;
  const uint8_t Background = B.Pixels[TPaletteBitmap::Size - 1][0];
  Out << "<symbol id=\"" << Name << "\" viewBox=\"0 0 24 24\" shape-rendering=\"crispEdges\">\n";
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

} // namespace

std::vector<TRoute> Routes(const TModelFile& File) {
  std::vector<TRoute> Found;
  for (const TBinding& B : File.Bindings()) {
    auto* From = dynamic_cast<TBlock*>(B.Component);
    if (!From) continue;
    const std::string Event = B.Event == "OnRouting" ? "" : B.Event;
    for (const THandlerCall& Call : B.Calls)
      for (const modelfile::TCallRoute& Route : modelfile::RoutesOfCall(Call)) {
        auto* To = dynamic_cast<TBlock*>(File.Resolve(From, Call.Args[Route.Arg].Text));
        if (!To) continue;
        // The label is built by appending: the prefix forms of operator+
        // trip a false -Wrestrict warning of g++ 12.
        std::string Label = Event;
        if (!Label.empty() && !Route.Label.empty()) Label += ' ';
        Label.append(Route.Label);
        Found.push_back({From, To, Label});
      }
  }
  return Found;
}

void WriteDiagramSvg(const TModelFile& File, std::ostream& Out) {
  std::vector<TBlock*> Blocks;
  std::vector<TComponent*> Others;
  if (File.Application()) CollectBlocks(File.Application(), Blocks, Others);
  const std::vector<TRoute> All = Routes(File);

  // Columns: the shortest number of routes from a block that nothing routes
  // to (a generator, as a rule); blocks out of reach go to the first column.
  std::map<const TBlock*, int> Column;
  std::set<const TBlock*> Reached;
  for (const TRoute& R : All)
    Reached.insert(R.To);
  std::vector<const TBlock*> Wave;
  for (const TBlock* B : Blocks)
    if (!Reached.count(B)) {
      Column[B] = 0;
      Wave.push_back(B);
    }
  while (!Wave.empty()) {
    std::vector<const TBlock*> Next;
    for (const TBlock* B : Wave)
      for (const TRoute& R : All)
        if (R.From == B && !Column.count(R.To)) {
          Column[R.To] = Column[B] + 1;
          Next.push_back(R.To);
        }
    Wave = std::move(Next);
  }
  for (const TBlock* B : Blocks)
    Column.emplace(B, 0); // in a cycle that nothing enters

  constexpr int CellW = 190, CellH = 120, Margin = 30, Icon = 48;
  std::map<const TBlock*, std::pair<int, int>> At; // top-left of the icon
  std::map<int, int> Rows;
  int Width = 0, Height = 0;
  for (const TBlock* B : Blocks) {
    const int C = Column[B];
    const int R = Rows[C]++;
    At[B] = {Margin + C * CellW, Margin + R * CellH};
    Width = std::max(Width, Margin + C * CellW + CellW);
    Height = std::max(Height, Margin + R * CellH + CellH);
  }
  const int OthersY = Height + 10;
  if (!Others.empty()) {
    Height = OthersY + 80;
    Width = std::max(Width, Margin + static_cast<int>(Others.size()) * 130);
  }
  Width = std::max(Width, 200);
  Height = std::max(Height, 100);

  Out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Width << "\" height=\"" << Height
      << "\" viewBox=\"0 0 " << Width << " " << Height
      << "\" font-family=\"sans-serif\" font-size=\"12\">\n<defs>\n"
      << "<marker id=\"arrow\" viewBox=\"0 0 10 10\" refX=\"10\" refY=\"5\" markerWidth=\"8\" "
         "markerHeight=\"8\" orient=\"auto\"><path d=\"M0,0 L10,5 L0,10 z\" fill=\"#333\"/>"
         "</marker>\n";
  std::set<std::string> Symbols;
  for (const TBlock* B : Blocks)
    Symbols.insert(Upper(ClassNameOf(*B)));
  for (const TComponent* X : Others)
    Symbols.insert(Upper(ClassNameOf(*X)));
  for (const std::string& S : Symbols)
    WriteSymbol(S, Out);
  Out << "</defs>\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";

  // Routes first, so that the blocks are drawn over their ends.
  for (const TRoute& R : All) {
    const auto [FX, FY] = At[R.From];
    const auto [TX, TY] = At[R.To];
    const int X1 = FX + Icon, Y1 = FY + Icon / 2;
    const int X2 = TX, Y2 = TY + Icon / 2;
    int LX, LY;
    Out << "<path d=\"";
    if (TX > FX) {
      Out << "M" << X1 << "," << Y1 << " L" << X2 - 2 << "," << Y2;
      LX = (X1 + X2) / 2;
      LY = (Y1 + Y2) / 2 - 6;
    } else {
      // Back to an earlier column, or to itself: around below the blocks.
      const int Low = std::max(FY, TY) + Icon + 34;
      Out << "M" << FX + Icon / 2 << "," << FY + Icon << " C" << FX + Icon / 2 << "," << Low << " "
          << TX + Icon / 2 << "," << Low << " " << TX + Icon / 2 << "," << TY + Icon + 2;
      LX = (FX + TX) / 2 + Icon / 2;
      LY = Low - 4;
    }
    Out << "\" fill=\"none\" stroke=\"#333\" stroke-width=\"1.5\" marker-end=\"url(#arrow)\">"
        << "<title>" << Escape(R.From->Name() + " -> " + R.To->Name()) << "</title></path>\n";
    if (!R.Label.empty())
      Out << "<text x=\"" << LX << "\" y=\"" << LY << "\" text-anchor=\"middle\" fill=\"#444\">"
          << Escape(R.Label) << "</text>\n";
  }
  auto Draw = [&Out](const TComponent* X, int Left, int Top) {
    const std::string Class = ClassNameOf(*X);
    Out << "<g><use href=\"#" << Upper(Class) << "\" x=\"" << Left << "\" y=\"" << Top
        << "\" width=\"" << Icon << "\" height=\"" << Icon << "\"/>\n"
        << "<rect x=\"" << Left - 1 << "\" y=\"" << Top - 1 << "\" width=\"" << Icon + 2
        << "\" height=\"" << Icon + 2 << "\" fill=\"none\" stroke=\"#999\"/>\n"
        << "<text x=\"" << Left + Icon / 2 << "\" y=\"" << Top + Icon + 14
        << "\" text-anchor=\"middle\" font-weight=\"bold\">" << Escape(X->Name()) << "</text>\n"
        << "<text x=\"" << Left + Icon / 2 << "\" y=\"" << Top + Icon + 27
        << "\" text-anchor=\"middle\" fill=\"#666\" font-size=\"10\">" << Escape(Class)
        << "</text></g>\n";
  };
  for (const TBlock* B : Blocks)
    Draw(B, At[B].first, At[B].second);
  for (std::size_t i = 0; i < Others.size(); ++i)
    Draw(Others[i], Margin + static_cast<int>(i) * 130, OthersY);
  Out << "</svg>\n";
}

} // namespace quorin

namespace quorin {

std::vector<std::string> CheckRoutes(const TModelFile& File) {
  // The graph of the routes among blocks that hold no transaction for a
  // time (servers and storages do: their OnEnter orders the end). A strongly
  // connected part of it with two blocks or more holds a loop that can go
  // round for ever at one model time. A route of a block to itself is left
  // out: the pass is refused, and the check of the block tells of the pile-up.
  auto Timed = [](const TBlock* B) {
    return dynamic_cast<const TServer*>(B) || dynamic_cast<const TStorage*>(B) ||
           dynamic_cast<const TStoragePrty*>(B);
  };
  std::map<const TBlock*, int> Index;
  std::vector<const TBlock*> Nodes;
  std::vector<std::vector<int>> Next;
  auto NodeOf = [&](const TBlock* B) {
    auto [It, New] = Index.emplace(B, int(Nodes.size()));
    if (New) {
      Nodes.push_back(B);
      Next.emplace_back();
    }
    return It->second;
  };
  for (const TRoute& R : Routes(File))
    if (R.From != R.To && !Timed(R.From) && !Timed(R.To)) {
      const int From = NodeOf(R.From), To = NodeOf(R.To);
      Next[std::size_t(From)].push_back(To);
    }
  // Tarjan's strongly connected parts, without recursion: a model file may
  // hold a chain of many thousand blocks.
  const int N = int(Nodes.size());
  std::vector<int> Order(std::size_t(N), -1), Low(std::size_t(N), 0), Stack;
  std::vector<bool> OnStack(std::size_t(N), false);
  std::vector<std::string> Findings;
  int Counter = 0;
  for (int Root = 0; Root < N; ++Root) {
    if (Order[std::size_t(Root)] >= 0) continue;
    std::vector<std::pair<int, std::size_t>> Walk{{Root, 0}};
    Order[std::size_t(Root)] = Low[std::size_t(Root)] = Counter++;
    Stack.push_back(Root);
    OnStack[std::size_t(Root)] = true;
    while (!Walk.empty()) {
      auto& [V, Edge] = Walk.back();
      const auto& Out = Next[std::size_t(V)];
      if (Edge < Out.size()) {
        const int W = Out[Edge++];
        if (Order[std::size_t(W)] < 0) {
          Order[std::size_t(W)] = Low[std::size_t(W)] = Counter++;
          Stack.push_back(W);
          OnStack[std::size_t(W)] = true;
          Walk.push_back({W, 0});
        } else if (OnStack[std::size_t(W)]) {
          Low[std::size_t(V)] = std::min(Low[std::size_t(V)], Order[std::size_t(W)]);
        }
        continue;
      }
      const int Done = V;
      Walk.pop_back();
      if (!Walk.empty())
        Low[std::size_t(Walk.back().first)] =
            std::min(Low[std::size_t(Walk.back().first)], Low[std::size_t(Done)]);
      if (Low[std::size_t(Done)] != Order[std::size_t(Done)]) continue;
      std::vector<int> Part;
      int W;
      do {
        W = Stack.back();
        Stack.pop_back();
        OnStack[std::size_t(W)] = false;
        Part.push_back(W);
      } while (W != Done);
      if (Part.size() < 2) continue;
      std::sort(Part.begin(), Part.end());
      std::string Names;
      for (std::size_t i = 0; i < Part.size() && i < 8; ++i)
        Names += (i ? ", " : "") + Nodes[std::size_t(Part[i])]->DisplayName();
      if (Part.size() > 8) Names += " and " + std::to_string(Part.size() - 8) + " more";
      Findings.push_back(Names +
                         " route transactions round a loop in which no block holds them for a "
                         "time (no server or storage): it can go round for ever at one model time");
    }
  }
  return Findings;
}

} // namespace quorin
