// The standard handlers: routing, holding times, next arrivals, priorities,
// gates and stopping, compiled from their calls in a model file. They are
// one table (Standard, below): a new standard handler is one entry, with its
// compiler and, when it routes, the routes it names for the diagram.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <memory>

#include "quorin/statsim.h"
#include "tables.h"

namespace quorin::modelfile {

namespace {

// A delay: a constant, a draw from a stream with fixed parameters, or a
// draw from an empirical distribution.
struct TDelay {
  double Constant = 0.0;
  TMultiRand* Stream = nullptr;
  double (*Draw)(TMultiRand&, const double* Params) = nullptr;
  std::array<double, 4> Params{};
  std::shared_ptr<const TEmpirical> Empirical;

  double operator()() const {
    if (!Stream) return Constant;
    return Empirical ? Empirical->Draw(*Stream) : Draw(*Stream, Params.data());
  }
};

struct TDistribution {
  const char* Name;
  int Count; // number of parameters
  double (*Draw)(TMultiRand&, const double*);
  int IntegerParam; // index of a parameter that must be a whole number, or -1
};

const TDistribution Distributions[] = {
    {"Uni01", 0, [](TMultiRand& R, const double*) { return R.Uni01(); }, -1},
    {"Uniform", 2, [](TMultiRand& R, const double* P) { return R.Uniform(P[0], P[1]); }, -1},
    {"Exponential", 1, [](TMultiRand& R, const double* P) { return R.Exponential(P[0]); }, -1},
    {"Erlang", 2,
     [](TMultiRand& R, const double* P) { return R.Erlang(P[0], static_cast<int32_t>(P[1])); }, 1},
    {"Normal", 2, [](TMultiRand& R, const double* P) { return R.Normal(P[0], P[1]); }, -1},
    {"GammaJonk", 1, [](TMultiRand& R, const double* P) { return R.GammaJonk(P[0]); }, -1},
    {"Gamma", 2, [](TMultiRand& R, const double* P) { return R.Gamma(P[0], P[1]); }, -1},
    {"Beta", 4, [](TMultiRand& R, const double* P) { return R.Beta(P[0], P[1], P[2], P[3]); }, -1},
    {"Weibull", 2, [](TMultiRand& R, const double* P) { return R.Weibull(P[0], P[1]); }, -1},
    {"Lognormal", 2, [](TMultiRand& R, const double* P) { return R.Lognormal(P[0], P[1]); }, -1},
    {"Triangular", 3, [](TMultiRand& R, const double* P) { return R.Triangular(P[0], P[1], P[2]); },
     -1},
};

// A whole number: a constant, or a draw of whole numbers from a stream:
// Poisson(Mean), UniformInt(Low, High) (each of Low...High alike, as
// Low + floor(Uniform(0, High - Low + 1))), or Discrete(V1, P1, V2, P2, ...)
// (value Vi with probability Pi, by one Uni01 draw against the running sums).
struct TCount {
  enum TKind { Constant, Poisson, UniformInt, Discrete };
  TKind Kind = Constant;
  int64_t Value = 0;
  TMultiRand* Stream = nullptr;
  double Mean = 0;
  int64_t Low = 0, High = 0;
  std::vector<std::pair<int64_t, double>> Table; // value, cumulative probability

  int64_t operator()() const {
    switch (Kind) {
    case Constant:
      return Value;
    case Poisson: {
      // Inversion: the least k whose cumulative probability passes a draw.
      const double U = Stream->Uni01();
      double P = std::exp(-Mean), F = P;
      int64_t K = 0;
      while (U > F && K < 100000) {
        ++K;
        P *= Mean / double(K);
        F += P;
        if (P == 0.0) break; // the tail is below double precision
      }
      return K;
    }
    case UniformInt: {
      const int64_t K =
          Low + static_cast<int64_t>(std::floor(Stream->Uniform(0.0, double(High - Low + 1))));
      return std::min(K, High);
    }
    case Discrete: {
      const double U = Stream->Uni01();
      for (const auto& [V, Upper] : Table)
        if (U < Upper) return V;
      return Table.back().first;
    }
    }
    return 0;
  }
};

bool ToNumber(const std::string& Text, double& Value) {
  const char* First = Text.data();
  if (*First == '+') ++First;
  const auto [End, Ec] = std::from_chars(First, Text.data() + Text.size(), Value);
  return Ec == std::errc() && End == Text.data() + Text.size() && std::isfinite(Value);
}

// Reports through Error the message the stream itself gives for these
// parameters, by a draw on a scratch stream of the same name. The orders of
// Erlang and the shapes of the gamma family are cut down to what the
// stream's own check sees (positive, below 2^31), so that the trial costs
// no more than a few draws.
bool TryDraw(const std::string& StreamName, const TDistribution& D, std::array<double, 4> P,
             std::string& Error) {
  const std::string Method = D.Name;
  auto Small = [](double Shape) {
    return Shape > 0.0 && Shape < 2147483648.0 ? Shape - std::floor(Shape) + (Shape >= 1.0) : Shape;
  };
  if (Method == "Erlang" && P[1] >= 1) P[1] = 1;
  if (Method == "GammaJonk") P[0] = Small(P[0]);
  if (Method == "Gamma") P[1] = Small(P[1]);
  if (Method == "Beta") P[0] = Small(P[0]), P[1] = Small(P[1]);
  std::string Message;
  const TMessageHandler Previous =
      SetMessageHandler([&Message](const std::string& Text) { Message = Text; });
  TMultiRand Probe(nullptr);
  Probe.SetName(StreamName);
  D.Draw(Probe, P.data());
  SetMessageHandler(Previous);
  if (Message.empty()) return true;
  Error = Message;
  return false;
}

// The classes whose OnEnter orders a holding time: "a TServer, TStorage or
// TStoragePrty".
std::string Holders() {
  return ClassesThat([](const TClassTraits& T) { return T.HoldsForTime; });
}

class TCompiler {
public:
  TCompiler(const THandlerCall& Call, const TCompileContext& Context, std::string& Error)
      : FCall(Call), FContext(Context), FError(Error) {}

  bool Fail(const std::string& Text) {
    FError = FCall.Name + ": " + Text;
    return false;
  }

  bool ArgCount(std::size_t Min, std::size_t Max) {
    const std::size_t N = FCall.Args.size();
    if (N >= Min && N <= Max) return true;
    const std::string Wanted = Min == Max   ? std::to_string(Min)
                               : Max == 999 ? std::to_string(Min) + " or more"
                                            : std::to_string(Min) + " to " + std::to_string(Max);
    return Fail("takes " + Wanted + " argument" + (Max == 1 && Min == 1 ? "" : "s") + ", not " +
                std::to_string(N));
  }

  bool Number(std::size_t Index, double& Value) {
    const THandlerArg& A = FCall.Args[Index];
    if (!A.IsNumber) return Fail("argument " + std::to_string(Index + 1) + " must be a number");
    if (!ToNumber(A.Text, Value)) return Fail("'" + A.Text + "' is not a number");
    return true;
  }

  bool Whole(std::size_t Index, double Min, double Max, int64_t& Value) {
    double V = 0;
    if (!Number(Index, V)) return false;
    if (V != std::floor(V) || V < Min || V > Max)
      return Fail("argument " + std::to_string(Index + 1) + " must be a whole number in " +
                  FormatRange(Min, Max));
    Value = static_cast<int64_t>(V);
    return true;
  }

  // The component that argument Index names; a draw (Stream.Method(...))
  // names its stream when Draw is set.
  template <class C>
  bool Component(std::size_t Index, const char* What, C*& Found, bool Draw = false) {
    const THandlerArg& A = FCall.Args[Index];
    if (A.IsNumber || A.Method.empty() == Draw)
      return Fail("argument " + std::to_string(Index + 1) + " must name " + What);
    TComponent* X = FContext.File.Resolve(FContext.Component, A.Text);
    if (!X)
      return Fail(FContext.File.CountNamed(A.Text) > 1
                      ? "'" + A.Text + "' is not a sibling and names several components"
                      : "no component named '" + A.Text + "'");
    Found = dynamic_cast<C*>(X);
    if (!Found) return Fail(A.Text + " is a " + ClassNameOf(*X) + ", not " + What);
    return true;
  }

  bool Delay(std::size_t Index, TDelay& D) {
    const THandlerArg& A = FCall.Args[Index];
    if (A.IsNumber) {
      if (!Number(Index, D.Constant)) return false;
      if (D.Constant < 0) return Fail("a delay cannot be negative");
      return true;
    }
    if (A.Method.empty())
      return Fail("expected a delay: a number or a draw such as " + A.Text + ".Exponential(1)");
    if (!Component(Index, "a random stream (TMultiRand)", D.Stream, true)) return false;
    if (A.Method == "Empirical" || A.Method == "EmpiricalDiscrete") return Empirical(A, D);
    const TDistribution* Dist = nullptr;
    for (const TDistribution& X : Distributions)
      if (A.Method == X.Name) Dist = &X;
    if (!Dist) {
      std::string Names;
      for (const TDistribution& X : Distributions)
        Names += (Names.empty() ? "" : ", ") + std::string(X.Name);
      return Fail("unknown distribution '" + A.Method + "' (one of " + Names +
                  ", Empirical, EmpiricalDiscrete)");
    }
    if (static_cast<int>(A.Params.size()) != Dist->Count)
      return Fail(A.Text + "." + A.Method + " takes " + std::to_string(Dist->Count) + " parameter" +
                  (Dist->Count == 1 ? "" : "s") + ", not " + std::to_string(A.Params.size()));
    for (int i = 0; i < Dist->Count; ++i)
      if (!ToNumber(A.Params[i], D.Params[i]))
        return Fail(A.Text + "." + A.Method + ": '" + A.Params[i] + "' is not a number");
    if (Dist->IntegerParam >= 0) {
      const double K = D.Params[Dist->IntegerParam];
      if (K != std::floor(K) || K < 1 || K > 2147483647.0)
        return Fail(A.Text + "." + A.Method + ": parameter " +
                    std::to_string(Dist->IntegerParam + 1) +
                    " must be a whole number in 1...2147483647");
    }
    std::string Message;
    if (!TryDraw(A.Text, *Dist, D.Params, Message)) return Fail(Message);
    D.Draw = Dist->Draw;
    return true;
  }

  // Stream.Empirical("file.csv") or Stream.EmpiricalDiscrete("file.csv"):
  // the first column of the file (a header line is allowed), read once here.
  bool Empirical(const THandlerArg& A, TDelay& D) {
    const std::string Call = A.Text + "." + A.Method;
    if (A.Params.size() != 1 || A.Params[0].size() < 2 || A.Params[0][0] != '"')
      return Fail(Call + " takes one quoted file name, such as " + Call + "(\"data.csv\")");
    std::string Name;
    for (size_t i = 1; i + 1 < A.Params[0].size(); ++i) {
      if (A.Params[0][i] == '\\') ++i; // the written form escapes '"' and '\\'
      Name += A.Params[0][i];
    }
    std::string Problem;
    auto E = TEmpirical::ReadCsv(FContext.File.DataPath(Name), "", A.Method == "EmpiricalDiscrete",
                                 Problem);
    if (!E) return Fail(Call + ": " + Problem);
    if (E->Values().front() < 0)
      return Fail(Call + ": a delay cannot be negative, and the data hold " +
                  std::to_string(E->Values().front()));
    D.Empirical = std::make_shared<const TEmpirical>(std::move(*E));
    return true;
  }

  // A whole number in Min...Max, or a draw of whole numbers (TCount). Draws
  // outside the range are refused where the parameters show it (UniformInt,
  // Discrete); a Poisson draw is cut to Max at run time.
  bool Count(std::size_t Index, double Min, double Max, TCount& C) {
    const THandlerArg& A = FCall.Args[Index];
    if (A.IsNumber) return Whole(Index, Min, Max, C.Value);
    if (A.Method.empty())
      return Fail("expected a whole number or a draw such as " + A.Text + ".Poisson(4)");
    if (!Component(Index, "a random stream (TMultiRand)", C.Stream, true)) return false;
    std::vector<double> P(A.Params.size());
    for (std::size_t i = 0; i < P.size(); ++i)
      if (!ToNumber(A.Params[i], P[i])) return Fail("'" + A.Params[i] + "' is not a number");
    const std::string Draw = A.Text + "." + A.Method;
    auto InRange = [&](double V) { return V == std::floor(V) && V >= Min && V <= Max; };
    if (A.Method == "Poisson") {
      if (P.size() != 1) return Fail(Draw + " takes 1 parameter, not " + std::to_string(P.size()));
      if (!(P[0] > 0 && P[0] <= 700))
        return Fail(Draw + ": the mean must lie above 0 and at most 700");
      C.Kind = TCount::Poisson;
      C.Mean = P[0];
      return true;
    }
    if (A.Method == "UniformInt") {
      if (P.size() != 2) return Fail(Draw + " takes 2 parameters, not " + std::to_string(P.size()));
      if (!InRange(P[0]) || !InRange(P[1]) || P[0] > P[1])
        return Fail(Draw + ": the bounds must be whole numbers in " + FormatRange(Min, Max) +
                    ", the first not above the second");
      C.Kind = TCount::UniformInt;
      C.Low = int64_t(P[0]);
      C.High = int64_t(P[1]);
      return true;
    }
    if (A.Method == "Discrete") {
      if (P.empty() || P.size() % 2 != 0)
        return Fail(Draw + " takes pairs of a value and its probability");
      double Sum = 0;
      for (std::size_t i = 0; i < P.size(); i += 2) {
        if (!InRange(P[i]))
          return Fail(Draw + ": a value must be a whole number in " + FormatRange(Min, Max));
        if (!(P[i + 1] >= 0 && P[i + 1] <= 1))
          return Fail(Draw + ": a probability must lie in 0...1");
        Sum += P[i + 1];
        C.Table.emplace_back(int64_t(P[i]), Sum);
      }
      if (std::fabs(Sum - 1.0) > 1e-9) return Fail(Draw + ": the probabilities must add up to 1");
      C.Table.back().second = 1.0;
      C.Kind = TCount::Discrete;
      return true;
    }
    return Fail("unknown draw of whole numbers '" + A.Method +
                "' (one of Poisson, UniformInt, Discrete)");
  }

  // Holding times belong in OnEnter of a holding block.
  bool HoldingEntry() {
    TComponent* Self = FContext.Component;
    if (TraitsOf(*Self).HoldsForTime && FContext.Event.Name == "OnEnter") return true;
    return Fail("orders a holding time, so it belongs in OnEnter of " + Holders());
  }

  // The event must move transactions: the block is in routing.
  bool Routing() {
    if (FContext.Event.Routing) return true;
    return Fail("moves a transaction, so it belongs in a routing event (OnRouting, "
                "OnTimeFinish, OnPreempt, OnRelease), not in " +
                FContext.Event.Name);
  }

  bool WithTransaction() {
    const TEventShape S = FContext.Event.Shape;
    if (S == TEventShape::Block || S == TEventShape::NewTime || S == TEventShape::AfterPass)
      return true;
    return Fail(FContext.Event.Name + " has no transaction");
  }

  bool PassTo(TEventAction& Action);
  bool PassFirst(TEventAction& Action);
  bool PassByChance(TEventAction& Action);
  bool PassInTurn(TEventAction& Action);
  bool PassByPriority(TEventAction& Action);
  bool HoldByPriority(TEventAction& Action);
  bool Resume(TEventAction& Action);
  bool NextTime(TEventAction& Action);
  bool PostPone(TEventAction& Action);
  bool NextArrivalAtRate(TEventAction& Action);
  bool SetPriority(TEventAction& Action);
  bool SetMark(TEventAction& Action);
  bool SetGate(TEventAction& Action);
  bool Generate(TEventAction& Action);
  bool StopAfter(TEventAction& Action);
  bool Stop(TEventAction& Action);
  bool PutValue(TEventAction& Action);

private:
  static std::string FormatRange(double Min, double Max) {
    return std::to_string(static_cast<int64_t>(Min)) + "..." +
           std::to_string(static_cast<int64_t>(Max));
  }

  const THandlerCall& FCall;
  const TCompileContext& FContext;
  std::string& FError;
};

bool TCompiler::PassTo(TEventAction& Action) {
  TBlock* To = nullptr;
  if (!Routing() || !ArgCount(1, 1) || !Component(0, "a block", To)) return false;
  Action = [To](const TEventArgs& C) { static_cast<TBlock*>(C.Sender)->PassTo(To); };
  return true;
}

bool TCompiler::PassFirst(TEventAction& Action) {
  if (!Routing() || !ArgCount(1, 999)) return false;
  std::vector<TBlock*> To(FCall.Args.size());
  for (std::size_t i = 0; i < To.size(); ++i)
    if (!Component(i, "a block", To[i])) return false;
  Action = [To](const TEventArgs& C) {
    auto* Sender = static_cast<TBlock*>(C.Sender);
    for (TBlock* B : To)
      if (Sender->PassTo(B)) return;
  };
  return true;
}

bool TCompiler::PassByChance(TEventAction& Action) {
  // PassByChance(Stream, Block1, P1, Block2, P2, ...): one draw chooses a
  // block for each transaction; a refused transaction waits for the block
  // it drew, and the retries draw nothing more.
  TMultiRand* Stream = nullptr;
  if (!Routing() || !ArgCount(3, 999)) return false;
  if (FCall.Args.size() % 2 == 0)
    return Fail("takes a stream, then pairs of a block and its probability");
  if (!Component(0, "a random stream (TMultiRand)", Stream)) return false;
  struct TChoice {
    TBlock* Block;
    double Upper; // cumulative probability
  };
  std::vector<TChoice> Choices;
  double Sum = 0.0;
  for (std::size_t i = 1; i < FCall.Args.size(); i += 2) {
    TBlock* B = nullptr;
    double P = 0.0;
    if (!Component(i, "a block", B) || !Number(i + 1, P)) return false;
    if (P < 0 || P > 1) return Fail("a probability must lie in 0...1");
    Sum += P;
    Choices.push_back({B, Sum});
  }
  if (std::fabs(Sum - 1.0) > 1e-9) return Fail("the probabilities must add up to 1");
  Choices.back().Upper = 1.0; // what rounding leaves goes to the last block
  struct TMemory {
    TTransaction* Trans = nullptr;
    int32_t ID = 0;
    double Enter = 0.0;
    TBlock* Choice = nullptr;
  };
  auto Memory = std::make_shared<TMemory>();
  Action = [Stream, Choices, Memory](const TEventArgs& C) {
    TTransaction* T = C.Trans;
    if (!T) return;
    if (T != Memory->Trans || T->GetTransID() != Memory->ID || T->FEnterTime != Memory->Enter) {
      const double U = Stream->Uni01();
      TBlock* Choice = Choices.back().Block;
      for (const TChoice& X : Choices)
        if (U < X.Upper) {
          Choice = X.Block;
          break;
        }
      *Memory = {T, T->GetTransID(), T->FEnterTime, Choice};
    }
    if (static_cast<TBlock*>(C.Sender)->PassTo(Memory->Choice)) Memory->Trans = nullptr;
  };
  return true;
}

bool TCompiler::PassInTurn(TEventAction& Action) {
  // PassInTurn(Block1, Block2, ...): each transaction goes to the next
  // block in turn; a refused one waits for its block, which keeps its turn.
  if (!Routing() || !ArgCount(1, 999)) return false;
  std::vector<TBlock*> To(FCall.Args.size());
  for (std::size_t i = 0; i < To.size(); ++i)
    if (!Component(i, "a block", To[i])) return false;
  auto Turn = std::make_shared<std::size_t>(0);
  Action = [To, Turn](const TEventArgs& C) {
    if (static_cast<TBlock*>(C.Sender)->PassTo(To[*Turn])) *Turn = (*Turn + 1) % To.size();
  };
  return true;
}

bool TCompiler::PassByPriority(TEventAction& Action) {
  // PassByPriority(P1, Block1, P2, Block2, ..., [Otherwise]): by the
  // transaction's priority; one of a priority not listed goes to Otherwise,
  // or stays where it is when there is none.
  if (!Routing() || !ArgCount(1, 999)) return false;
  std::array<TBlock*, 256> To{};
  const std::size_t N = FCall.Args.size();
  for (std::size_t i = 0; i + 1 < N; i += 2) {
    int64_t P = 0;
    TBlock* B = nullptr;
    if (!Whole(i, 0, 255, P) || !Component(i + 1, "a block", B)) return false;
    if (To[std::size_t(P)]) return Fail("priority " + std::to_string(P) + " is given twice");
    To[std::size_t(P)] = B;
  }
  if (N % 2 == 1) {
    TBlock* Otherwise = nullptr;
    if (!Component(N - 1, "a block", Otherwise)) return false;
    for (TBlock*& B : To)
      if (!B) B = Otherwise;
  }
  Action = [To](const TEventArgs& C) {
    if (TBlock* B = C.Trans ? To[C.Trans->GetPrty()] : nullptr)
      static_cast<TBlock*>(C.Sender)->PassTo(B);
  };
  return true;
}

bool TCompiler::HoldByPriority(TEventAction& Action) {
  // HoldByPriority(P1, Delay1, P2, Delay2, ..., [Otherwise]): a holding time
  // by the entering transaction's priority; none for a priority not listed
  // when there is no Otherwise (the model check then reports the holding).
  if (!HoldingEntry() || !ArgCount(1, 999)) return false;
  std::vector<TDelay> Delays;
  std::array<int16_t, 256> Index;
  Index.fill(-1);
  const std::size_t N = FCall.Args.size();
  for (std::size_t i = 0; i + 1 < N; i += 2) {
    int64_t P = 0;
    TDelay D;
    if (!Whole(i, 0, 255, P) || !Delay(i + 1, D)) return false;
    if (Index[std::size_t(P)] >= 0) return Fail("priority " + std::to_string(P) + " is given twice");
    Index[std::size_t(P)] = int16_t(Delays.size());
    Delays.push_back(D);
  }
  if (N % 2 == 1) {
    TDelay Otherwise;
    if (!Delay(N - 1, Otherwise)) return false;
    for (int16_t& I : Index)
      if (I < 0) I = int16_t(Delays.size());
    Delays.push_back(Otherwise);
  }
  auto* Target = dynamic_cast<TAggregate*>(FContext.Component);
  Action = [Target, Delays, Index](const TEventArgs& C) {
    if (!C.Trans) return;
    if (const int16_t I = Index[C.Trans->GetPrty()]; I >= 0)
      Target->NextTime(Delays[std::size_t(I)]());
  };
  return true;
}

bool TCompiler::Resume(TEventAction& Action) {
  // Resume(Delay): a transaction pushed out of a priority storage holds for
  // exactly what it had left (TTransaction::Remaining); any other for Delay,
  // drawn only then.
  TDelay D;
  if (!HoldingEntry() || !ArgCount(1, 1) || !Delay(0, D)) return false;
  auto* Target = dynamic_cast<TAggregate*>(FContext.Component);
  Action = [Target, D](const TEventArgs& C) {
    Target->NextTime(C.Trans && C.Trans->HasRemaining() ? C.Trans->Remaining() : D());
  };
  return true;
}

bool TCompiler::NextTime(TEventAction& Action) {
  const std::string& Name = FCall.Name;
  TComponent* Self = FContext.Component;
  // All three order the component's next activation; the names say what
  // it means on each kind of component, and only that use is accepted.
  const bool OnEnter = FContext.Event.Name == "OnEnter";
  const TClassTraits& Traits = TraitsOf(*Self);
  if (Name == "Hold" && !(Traits.HoldsForTime && OnEnter))
    return Fail("orders a holding time, so it belongs in OnEnter of " + Holders());
  if (Name == "TimeLimit" && !(Traits.LimitsWait && OnEnter))
    return Fail("orders a waiting-time limit, so it belongs in OnEnter of a TQueue, TStack or "
                "TQueuePrty (whose OnTimeFinish then routes the transaction)");
  if (Name == "NextArrival" && !Traits.PlansArrivals)
    return Fail("orders the next activation of a TGenerator or TScheduler, not of a " +
                ClassNameOf(*Self));
  TDelay D;
  if (!ArgCount(1, 1) || !Delay(0, D)) return false;
  auto* Target = dynamic_cast<TAggregate*>(Self);
  Action = [Target, D](const TEventArgs&) { Target->NextTime(D()); };
  return true;
}

bool TCompiler::NextArrivalAtRate(TEventAction& Action) {
  // NextArrivalAtRate(Stream, Schedule): the next arrival of a Poisson
  // process whose rate per time unit follows the schedule; none once the
  // rate stays 0 for ever.
  TComponent* Self = FContext.Component;
  if (!TraitsOf(*Self).PlansArrivals)
    return Fail("orders the next activation of a TGenerator or TScheduler, not of a " +
                ClassNameOf(*Self));
  TMultiRand* Stream = nullptr;
  if (!ArgCount(2, 2) || !Component(0, "a random stream (TMultiRand)", Stream)) return false;
  const THandlerArg& S = FCall.Args[1];
  const TSchedule* Rate =
      S.IsNumber || !S.Method.empty() ? nullptr : FContext.File.Schedule(S.Text);
  if (!Rate) return Fail("argument 2 must name a schedule section (the rate)");
  auto* Target = dynamic_cast<TAggregate*>(Self);
  Action = [Target, Stream, Copy = *Rate](const TEventArgs&) {
    if (const auto D = NextArrivalDelay(Copy, *Stream, ModelTime())) Target->NextTime(*D);
  };
  return true;
}

bool TCompiler::PostPone(TEventAction& Action) {
  TComponent* Self = FContext.Component;
  // The displaced holder of a preemptive server waits on the server's
  // stack and resumes its remaining service later.
  if (!(TraitsOf(*Self).KeepsDisplaced && FContext.Event.Name == "OnPreempt"))
    return Fail("keeps a displaced transaction, so it belongs in OnPreempt of a TServer");
  if (!ArgCount(0, 0)) return false;
  Action = [](const TEventArgs& C) { static_cast<TBlock*>(C.Sender)->PostPone(); };
  return true;
}

bool TCompiler::SetPriority(TEventAction& Action) {
  // A priority, or a draw of one: SetPriority(Stream.Discrete(1, 0.7, 2, 0.3)).
  TCount P;
  if (!WithTransaction() || !ArgCount(1, 1) || !Count(0, 0, 255, P)) return false;
  Action = [P](const TEventArgs& C) {
    if (C.Trans) C.Trans->SetPrty(static_cast<uint8_t>(std::min<int64_t>(P(), 255)));
  };
  return true;
}

bool TCompiler::SetMark(TEventAction& Action) {
  const std::string& Name = FCall.Name;
  if (!WithTransaction() || !ArgCount(0, 0)) return false;
  const bool Mark = Name == "SetPreempt";
  Action = [Mark](const TEventArgs& C) {
    if (!C.Trans) return;
    if (Mark)
      C.Trans->SetPreempt();
    else
      C.Trans->SetNonPreempt();
  };
  return true;
}

bool TCompiler::SetGate(TEventAction& Action) {
  const std::string& Name = FCall.Name;
  TGate* Gate = nullptr;
  if (!ArgCount(1, 1) || !Component(0, "a gate (TGate)", Gate)) return false;
  if (Name == "Lock")
    Action = [Gate](const TEventArgs&) { Gate->Lock(); };
  else
    Action = [Gate](const TEventArgs&) { Gate->Unlock(); };
  return true;
}

bool TCompiler::Generate(TEventAction& Action) {
  // A batch of N transactions from a creator, from any handler (a
  // scheduler's, as a rule); N may be drawn (Generate(Bus, Loads.Poisson(4))),
  // and a batch of 0 makes nothing.
  TCreator* Creator = nullptr;
  TCount N;
  if (!ArgCount(2, 2) || !Component(0, "a creator (TCreator)", Creator) ||
      !Count(1, 1, 2147483647.0, N))
    return false;
  Action = [Creator, N](const TEventArgs&) {
    Creator->Generate(static_cast<int32_t>(std::min<int64_t>(N(), 2147483647)));
  };
  return true;
}

bool TCompiler::StopAfter(TEventAction& Action) {
  int64_t N = 0;
  if (!ArgCount(1, 1) || !Whole(0, 1, 2147483647.0, N)) return false;
  auto Count = std::make_shared<int64_t>(0);
  TModel* Model = FContext.Model;
  Action = [Count, N, Model](const TEventArgs&) {
    if (++*Count >= N) Model->Stop();
  };
  return true;
}

bool TCompiler::PutValue(TEventAction& Action) {
  // PutValue(Tabulator, What): What is Age (the transaction's time since it
  // was made: in a terminator's OnEnter, its time in system), TimeInBlock
  // (since it entered the block it is in), Priority, a value the
  // application names (a field of its transaction class), a number, or a
  // draw from a stream.
  TTabulator* Tab = nullptr;
  if (!ArgCount(2, 2) || !Component(0, "a tabulator (TTabulator)", Tab)) return false;
  const THandlerArg& A = FCall.Args[1];
  if (!A.IsNumber && A.Method.empty()) {
    using TGet = std::function<double(const TTransaction*)>;
    TGet Get;
    if (A.Text == "Age")
      Get = [](const TTransaction* T) { return T->Age(); };
    else if (A.Text == "TimeInBlock")
      Get = [](const TTransaction* T) { return T->TimeInBlock(); };
    else if (A.Text == "Priority")
      Get = [](const TTransaction* T) { return double(T->GetPrty()); };
    else if (auto It = FContext.Handlers.Values.find(A.Text); It != FContext.Handlers.Values.end())
      Get = It->second;
    else
      return Fail("argument 2 must be Age, TimeInBlock, Priority, a value of the transaction the "
                  "application names, a number or a draw such as Stream.Exponential(1), not '" +
                  A.Text + "'");
    if (!WithTransaction()) return false;
    Action = [Tab, Get](const TEventArgs& C) {
      if (C.Trans) Tab->PutValue(Get(C.Trans));
    };
    return true;
  }
  TDelay D;
  if (A.IsNumber) {
    if (!Number(1, D.Constant)) return false;
  } else if (!Delay(1, D)) {
    return false;
  }
  Action = [Tab, D](const TEventArgs&) { Tab->PutValue(D()); };
  return true;
}

bool TCompiler::Stop(TEventAction& Action) {
  if (!ArgCount(0, 0)) return false;
  TModel* Model = FContext.Model;
  Action = [Model](const TEventArgs&) { Model->Stop(); };
  return true;
}

// The routes a routing handler's call names, for the diagram. Labels are
// built by appending: the prefix forms of operator+ trip a false -Wrestrict
// warning of g++ 12.
std::vector<TCallRoute> SingleRoute(const THandlerCall& Call) {
  if (Call.Args.size() != 1) return {};
  return {{0, ""}};
}

std::vector<TCallRoute> RankedRoutes(const THandlerCall& Call) {
  std::vector<TCallRoute> Routes;
  const std::size_t N = Call.Args.size();
  for (std::size_t i = 0; i < N; ++i)
    Routes.push_back({i, N > 1 ? std::string("#").append(std::to_string(i + 1)) : ""});
  return Routes;
}

std::vector<TCallRoute> ChanceRoutes(const THandlerCall& Call) {
  std::vector<TCallRoute> Routes;
  for (std::size_t i = 1; i + 1 < Call.Args.size(); i += 2)
    Routes.push_back({i, std::string("p=").append(Call.Args[i + 1].Text)});
  return Routes;
}

std::vector<TCallRoute> TurnRoutes(const THandlerCall& Call) {
  std::vector<TCallRoute> Routes;
  for (std::size_t i = 0; i < Call.Args.size(); ++i)
    Routes.push_back({i, std::string("turn ").append(std::to_string(i + 1))});
  return Routes;
}

std::vector<TCallRoute> PriorityRoutes(const THandlerCall& Call) {
  std::vector<TCallRoute> Routes;
  for (std::size_t i = 0; i + 1 < Call.Args.size(); i += 2)
    Routes.push_back({i + 1, std::string("prty ").append(Call.Args[i].Text)});
  if (Call.Args.size() % 2 == 1) Routes.push_back({Call.Args.size() - 1, "other prty"});
  return Routes;
}

struct TStandardEntry {
  TStandardHandler Info;
  bool (TCompiler::*Compile)(TEventAction& Action);
  std::vector<TCallRoute> (*Routes)(const THandlerCall& Call); // nullptr: routes nowhere
};

constexpr const char* RoutingEvents =
    "routing events (OnRouting, OnTimeFinish, OnPreempt, OnRelease)";

// The standard handlers, in the order `quorin palette` and messages list them.
const std::vector<TStandardEntry>& Standard() {
  static const std::vector<TStandardEntry> Table = {
      {{"PassTo", "PassTo(Block)", RoutingEvents, "passes the transaction to Block"},
       &TCompiler::PassTo,
       &SingleRoute},
      {{"PassFirst", "PassFirst(B1, B2, ...)", RoutingEvents,
        "passes it to the first block that accepts it"},
       &TCompiler::PassFirst,
       &RankedRoutes},
      {{"PassByChance", "PassByChance(Stream, B1, P1, B2, P2, ...)", RoutingEvents,
        "one draw from Stream picks a block by the probabilities (which add up to 1); a "
        "transaction that the block refuses waits for that block, and the retries draw nothing"},
       &TCompiler::PassByChance,
       &ChanceRoutes},
      {{"PassInTurn", "PassInTurn(B1, B2, ...)", RoutingEvents,
        "passes each transaction to the next block in turn (round robin); one that its block "
        "refuses waits for that block"},
       &TCompiler::PassInTurn,
       &TurnRoutes},
      {{"PassByPriority", "PassByPriority(P1, B1, P2, B2, ..., [Otherwise])", RoutingEvents,
        "passes it to the block listed for its priority, else to Otherwise (when given)"},
       &TCompiler::PassByPriority,
       &PriorityRoutes},
      {{"PostPone", "PostPone", "OnPreempt of a TServer",
        "keeps the displaced transaction on the server, to resume its remaining service later"},
       &TCompiler::PostPone,
       nullptr},
      {{"Hold", "Hold(Delay)", "OnEnter of " + Holders(),
        "orders the end of the entering transaction's holding time"},
       &TCompiler::NextTime,
       nullptr},
      {{"HoldByPriority", "HoldByPriority(P1, Delay1, P2, Delay2, ..., [Otherwise])",
        "OnEnter of " + Holders(),
        "orders the holding time listed for the entering transaction's priority"},
       &TCompiler::HoldByPriority,
       nullptr},
      {{"Resume", "Resume(Delay)", "OnEnter of " + Holders(),
        "holds a transaction pushed out of a priority storage for exactly the holding time it "
        "had left, any other for Delay"},
       &TCompiler::Resume,
       nullptr},
      {{"TimeLimit", "TimeLimit(Delay)", "OnEnter of a TQueue, TStack or TQueuePrty",
        "limits its wait; when it runs out, the queue's OnTimeFinish routes it (e.g. "
        "OnTimeFinish = PassTo(Balk))"},
       &TCompiler::NextTime,
       nullptr},
      {{"NextArrival", "NextArrival(Delay)", "any event of a TGenerator or TScheduler",
        "orders its next activation after Delay"},
       &TCompiler::NextTime,
       nullptr},
      {{"NextArrivalAtRate", "NextArrivalAtRate(Stream, Schedule)",
        "any event of a TGenerator or TScheduler",
        "orders the next arrival of a Poisson process whose rate follows the schedule section "
        "(docs/inputs.md)"},
       &TCompiler::NextArrivalAtRate,
       nullptr},
      {{"SetPriority", "SetPriority(N)", "events with a transaction",
        "sets its priority (0...255); N may be drawn, e.g. Stream.Discrete(1, 0.7, 2, 0.3)"},
       &TCompiler::SetPriority,
       nullptr},
      {{"SetPreempt", "SetPreempt", "events with a transaction", "sets its preempt mark"},
       &TCompiler::SetMark,
       nullptr},
      {{"SetNonPreempt", "SetNonPreempt", "events with a transaction", "clears its preempt mark"},
       &TCompiler::SetMark,
       nullptr},
      {{"Lock", "Lock(Gate)", "any event", "locks a TGate"}, &TCompiler::SetGate, nullptr},
      {{"Unlock", "Unlock(Gate)", "any event", "unlocks a TGate"}, &TCompiler::SetGate, nullptr},
      {{"Generate", "Generate(Creator, N)", "any event (a scheduler's OnPlanned, as a rule)",
        "makes a batch of N transactions on a TCreator; N may be drawn: Stream.Poisson(Mean), "
        "Stream.UniformInt(Low, High) or Stream.Discrete(V1, P1, V2, P2, ...)"},
       &TCompiler::Generate,
       nullptr},
      {{"StopAfter", "StopAfter(N)", "any event",
        "stops the run when the handler has run N times (N terminations on a terminator's "
        "OnEnter)"},
       &TCompiler::StopAfter,
       nullptr},
      {{"Stop", "Stop", "any event", "stops the run"}, &TCompiler::Stop, nullptr},
      {{"PutValue", "PutValue(Tabulator, What)", "any event (Age, TimeInBlock, Priority and "
                                                  "named values: events with a transaction)",
        "puts into a TTabulator the transaction's Age (time since it was made), TimeInBlock, "
        "Priority or a value the application names, a number or a draw"},
       &TCompiler::PutValue, nullptr},
  };
  return Table;
}

const TStandardEntry* FindStandard(const std::string& Name) {
  for (const TStandardEntry& E : Standard())
    if (E.Info.Name == Name) return &E;
  return nullptr;
}

} // namespace

void AssignActions(const std::vector<THandlerCall>& Calls, const TCompileContext& Context,
                   std::vector<TEventAction> Actions,
                   const std::function<TEventAction(std::vector<TEventAction>)>& Wrap) {
  auto* Block = dynamic_cast<TBlock*>(Context.Component);
  if (Block && Context.Event.Name == "OnRouting") {
    TBlock* Route = nullptr;
    if (Calls.size() == 1 && Calls[0].Name == "PassTo" && Calls[0].Args.size() == 1)
      Route = dynamic_cast<TBlock*>(Context.File.Resolve(Block, Calls[0].Args[0].Text));
    Block->SetRoute(Route);
    if (Route) {
      Context.Event.Assign(*Block, TEventAction());
      return;
    }
  }
  Context.Event.Assign(*Context.Component, Wrap(std::move(Actions)));
}

std::vector<TCallRoute> RoutesOfCall(const THandlerCall& Call) {
  const TStandardEntry* E = FindStandard(Call.Name);
  return E && E->Routes ? E->Routes(Call) : std::vector<TCallRoute>{};
}

} // namespace quorin::modelfile

const std::vector<quorin::TStandardHandler>& quorin::StandardHandlers() {
  static const std::vector<TStandardHandler> All = [] {
    std::vector<TStandardHandler> Infos;
    for (const modelfile::TStandardEntry& E : modelfile::Standard())
      Infos.push_back(E.Info);
    return Infos;
  }();
  return All;
}

std::vector<std::string> quorin::StandardHandlerNames() {
  std::vector<std::string> Names;
  for (const TStandardHandler& H : StandardHandlers())
    Names.push_back(H.Name);
  return Names;
}

namespace quorin::modelfile {

bool CompileCall(const THandlerCall& Call, const TCompileContext& Context, TEventAction& Action,
                 std::string& Error) {
  if (const TStandardEntry* E = FindStandard(Call.Name)) {
    TCompiler Compiler(Call, Context, Error);
    return (Compiler.*E->Compile)(Action);
  }
  // An application handler: bound by name for the shape of this event.
  auto Bind = [&](const auto& Map, auto Wrap) {
    auto It = Map.find(Call.Name);
    if (It == Map.end() || !It->second) return false;
    Action = Wrap(It->second);
    return true;
  };
  bool Found = false;
  switch (Context.Event.Shape) {
  case TEventShape::Block:
    Found = Bind(Context.Handlers.Block, [](auto H) {
      return TEventAction([H](const TEventArgs& C) { H(static_cast<TBlock*>(C.Sender), C.Trans); });
    });
    break;
  case TEventShape::Aggregate:
    Found = Bind(Context.Handlers.Aggregate,
                 [](auto H) { return TEventAction([H](const TEventArgs& C) { H(C.Sender); }); });
    break;
  case TEventShape::Model:
    Found = Bind(Context.Handlers.Model,
                 [](auto H) { return TEventAction([H](const TEventArgs&) { H(); }); });
    break;
  case TEventShape::NewTime:
    Found = Bind(Context.Handlers.NewTime, [](auto H) {
      return TEventAction([H](const TEventArgs& C) { H(C.Sender, C.Trans); });
    });
    break;
  case TEventShape::AfterPass:
    Found = Bind(Context.Handlers.AfterPass, [](auto H) {
      return TEventAction(
          [H](const TEventArgs& C) { H(static_cast<TBlock*>(C.Sender), C.Receiver, C.Trans); });
    });
    break;
  }
  if (!Found) {
    std::string Names;
    for (const std::string& N : StandardHandlerNames())
      Names += (Names.empty() ? "" : ", ") + N;
    Error = "unknown handler '" + Call.Name + "' (standard handlers: " + Names +
            "; the application gives no handler of that name for this event)";
    return false;
  }
  if (Call.Parens) {
    Error = Call.Name + ": an application handler takes no arguments";
    return false;
  }
  return true;
}

} // namespace quorin::modelfile
