// The diagram of a model file: its blocks with their palette images and the
// routes that the standard routing handlers name, as an SVG picture.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <ostream>
#include <set>
#include <typeinfo>

#include "quorin/diagram.h"
#include "quorin/modelfile.h"
#include "tables.h"

namespace quorin {

namespace {

// The blocks and schedulers, which the diagram draws as nodes, and the
// other components of the application, which it lists below them.
void CollectNodes(TComponent* Root, std::vector<TComponent*>& Nodes,
                  std::vector<TComponent*>& Others) {
  for (int32_t i = 0; i < Root->ComponentCount(); ++i) {
    TComponent* X = Root->Components(i);
    if (dynamic_cast<TScheduleDriver*>(X))
      continue; // a block's schedule, part of the block (Schedule = Name)
    if (dynamic_cast<TBlock*>(X) || dynamic_cast<TScheduler*>(X))
      Nodes.push_back(X);
    else if (typeid(*X) != typeid(TComponent))
      Others.push_back(X);
    CollectNodes(X, Nodes, Others);
  }
}

// An argument as written: a number, a name, or Stream.Method(numbers).
std::string ArgText(const THandlerArg& Arg) {
  if (Arg.Method.empty()) return Arg.Text;
  std::string Text = Arg.Text + "." + Arg.Method + "(";
  for (std::size_t i = 0; i < Arg.Params.size(); ++i)
    Text += (i ? ", " : "") + Arg.Params[i];
  return Text + ")";
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

TDiagram DiagramOf(const TModelFile& File) {
  std::vector<TComponent*> Nodes, Others;
  if (File.Application()) CollectNodes(File.Application(), Nodes, Others);
  TDiagram D;
  std::map<const TComponent*, int32_t> Index;
  for (TComponent* X : Nodes) {
    Index[X] = int32_t(D.Nodes.size());
    D.Nodes.push_back({X->Name(), ClassNameOf(*X), BlockNotes(*X), dynamic_cast<TBlock*>(X) != nullptr});
    if (const auto At = File.Position(X)) {
      D.Nodes.back().Placed = true;
      D.Nodes.back().Left = At->Left;
      D.Nodes.back().Top = At->Top;
    }
  }
  for (TComponent* X : Others)
    D.Others.push_back({X->Name(), ClassNameOf(*X), {}, false});
  for (const TRoute& R : Routes(File))
    D.Edges.push_back({Index[R.From], Index[R.To], R.Label, false});
  // Control links and the notes that handlers give.
  for (const TBinding& B : File.Bindings()) {
    const auto From = Index.find(B.Component);
    for (const THandlerCall& Call : B.Calls) {
      if (Call.Name == "TimeLimit" && Call.Args.size() == 1 && From != Index.end())
        D.Nodes[std::size_t(From->second)].Notes.push_back("time limit " + ArgText(Call.Args[0]));
      const bool Generate = Call.Name == "Generate" && Call.Args.size() == 2;
      const bool Gate = (Call.Name == "Lock" || Call.Name == "Unlock") && Call.Args.size() == 1;
      if (!Generate && !Gate) continue;
      const auto To = Index.find(File.Resolve(B.Component, Call.Args[0].Text));
      if (From == Index.end() || To == Index.end()) continue;
      D.Edges.push_back({From->second, To->second,
                         Generate ? "Generate " + ArgText(Call.Args[1]) : Call.Name, true});
    }
  }
  return D;
}

void WriteDiagramSvg(const TModelFile& File, std::ostream& Out) {
  WriteDiagramSvg(DiagramOf(File), Out);
}

} // namespace quorin

namespace quorin {

std::vector<std::string> CheckRoutes(const TModelFile& File) {
  // The graph of the routes among blocks that hold no transaction for a
  // time (those whose class HoldsForTime do: their OnEnter orders the end,
  // as in servers and storages). A strongly
  // connected part of it with two blocks or more holds a loop that can go
  // round for ever at one model time. A route of a block to itself is left
  // out: the pass is refused, and the check of the block tells of the pile-up.
  auto Timed = [](const TBlock* B) { return TraitsOf(*B).HoldsForTime; };
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

std::vector<std::string> CheckHandlers(const TModelFile& File) {
  std::vector<std::string> Findings;
  auto IsStandard = [](const std::string& Name) {
    for (const TStandardHandler& H : StandardHandlers())
      if (H.Name == Name) return true;
    return false;
  };
  // Generators: the arrivals each event of a generator orders with the
  // standard handlers, and whether an application handler (which may order
  // any) is bound to one of its events.
  struct TArrivals {
    int32_t First = 0, Later = 0;
    bool Application = false;
  };
  std::map<const TGenerator*, TArrivals> Generators;
  std::vector<const TGenerator*> GeneratorOrder;
  for (const TBinding& B : File.Bindings()) {
    const auto* G = dynamic_cast<const TGenerator*>(B.Component);
    if (!G) continue;
    auto [It, New] = Generators.try_emplace(G);
    if (New) GeneratorOrder.push_back(G);
    for (const THandlerCall& Call : B.Calls) {
      if (!IsStandard(Call.Name)) It->second.Application = true;
      if (Call.Name != "NextArrival" && Call.Name != "NextArrivalAtRate") continue;
      ++(B.Event == "OnBeforeTimeGoOn" ? It->second.First : It->second.Later);
    }
  }
  for (const TGenerator* G : GeneratorOrder) {
    const TArrivals& A = Generators[G];
    if (A.First == 1 && A.Later == 0 && !A.Application)
      Findings.push_back(G->DisplayName() +
                         " plans its first arrival in OnBeforeTimeGoOn, but none of its handlers "
                         "plans the next one: it makes 1 transaction and no more (order the next "
                         "arrival in OnAfterGeneration, e.g. NextArrival(Delay))");
  }
  // Assemblers without Match that split parts reach by more than one route:
  // the routes into each assembler from blocks that a divider's parts can
  // reach (the divider included).
  const std::vector<TRoute> All = Routes(File);
  std::multimap<const TBlock*, const TBlock*> Next;
  std::set<const TBlock*> Split;
  std::vector<const TBlock*> Walk;
  for (const TRoute& R : All) {
    Next.emplace(R.From, R.To);
    if (dynamic_cast<const TDivider*>(R.From) && Split.insert(R.From).second) Walk.push_back(R.From);
  }
  while (!Walk.empty()) {
    const TBlock* B = Walk.back();
    Walk.pop_back();
    for (auto [It, End] = Next.equal_range(B); It != End; ++It)
      if (Split.insert(It->second).second) Walk.push_back(It->second);
  }
  std::map<const TAssembler*, std::vector<const TBlock*>> Feeders;
  std::vector<const TAssembler*> AssemblerOrder;
  for (const TRoute& R : All) {
    const auto* A = dynamic_cast<const TAssembler*>(R.To);
    if (!A || A->Match() || !Split.count(R.From) || R.From == R.To) continue;
    auto [It, New] = Feeders.try_emplace(A);
    if (New) AssemblerOrder.push_back(A);
    if (std::find(It->second.begin(), It->second.end(), R.From) == It->second.end())
      It->second.push_back(R.From);
  }
  for (const TAssembler* A : AssemblerOrder) {
    const auto& From = Feeders[A];
    if (From.size() < 2) continue;
    // Appended piece by piece: g++ 12 warns falsely about the temporaries
    // of a long concatenation.
    std::string Text = A->DisplayName();
    Text.append(" joins split transactions that can reach it by more than one route (");
    for (std::size_t i = 0; i < From.size(); ++i) {
      if (i) Text.append(", ");
      Text.append(From[i]->DisplayName());
    }
    Text.append("), so a set can hold parts of different originals: set Match = true to join "
                "only the parts of one original");
    Findings.push_back(std::move(Text));
  }
  return Findings;
}

} // namespace quorin
