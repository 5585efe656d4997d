// The run recorder of the report page: content over time in buckets that
// merge pairwise as the run grows, the first passes for the replay, and the
// routes seen.
#include <algorithm>
#include <climits>

#include "quorin/page.h"
#include "quorin/statsim.h"

namespace quorin {

namespace {

// The application whose components the model gathers: its owner's owner,
// as the model scans them.
TComponent* ApplicationOf(const TModel& Model) {
  TComponent* Form = Model.Owner();
  return Form && Form->Owner() ? Form->Owner() : Form;
}

void CollectStreams(TComponent* Root, std::vector<std::pair<std::string, int64_t>>& Seeds) {
  if (!Root) return;
  for (int32_t i = 0; i < Root->ComponentCount(); ++i) {
    TComponent* C = Root->Components(i);
    if (auto* R = dynamic_cast<TMultiRand*>(C)) Seeds.emplace_back(R->DisplayName(), R->GetSeed());
    CollectStreams(C, Seeds);
  }
}

} // namespace

TRunRecorder::TRunRecorder(TModel& Model, TLimits Limits) : FModel(Model), FLimits(Limits) {
  FLimits.Points = std::max(2, FLimits.Points + FLimits.Points % 2);
  FLimits.Moves = std::max(0, FLimits.Moves);
  if (FLimits.Horizon > 0) FWidth = FLimits.Horizon / FLimits.Points;
  FMoves.reserve(std::size_t(FLimits.Moves));
  CollectStreams(ApplicationOf(Model), FSeeds);
  FOldNewTime = Model.OnNewTime;
  FOldAfterPass = Model.OnAfterPass;
  Model.OnNewTime = [this](TAggregate* Sender, TTransaction* Trans) {
    if (!FStarted) Start();
    // What the last event's activation changed, it changed at that event's
    // time: a holding time's end, a time limit.
    if (FActive >= 0) Sync(FSeries[std::size_t(FActive)], FLast);
    if (!FSeries.empty()) {
      Sync(FSeries[FTurn], FLast);
      FTurn = FTurn + 1 < FSeries.size() ? FTurn + 1 : 0;
    }
    const auto It = std::lower_bound(FSeriesIndex.begin(), FSeriesIndex.end(),
                                     std::make_pair(static_cast<const TAggregate*>(Sender), INT32_MIN));
    FActive = It != FSeriesIndex.end() && It->first == Sender ? It->second : -1;
    FLast = std::max(FLast, ModelTime());
    if (FOldNewTime) FOldNewTime(Sender, Trans);
  };
  Model.OnAfterPass = [this](TBlock* Sender, TBlock* Receiver, TTransaction* Trans) {
    const int32_t From = IndexOf(Sender), To = IndexOf(Receiver);
    if (From >= 0 && To >= 0) {
      ++FPasses;
      const double Now = ModelTime();
      // Routes are few: a sorted list, searched per pass, grows only when a
      // pair passes for the first time (within the room reserved at start
      // for most models).
      const uint64_t Key = (uint64_t(uint32_t(From)) << 32) | uint32_t(To);
      const auto At = std::lower_bound(FRouteKeys.begin(), FRouteKeys.end(), std::make_pair(Key, 0));
      if (At == FRouteKeys.end() || At->first != Key)
        FRouteKeys.insert(At, {Key, int32_t(FRouteKeys.size())});
      const int32_t FromCount = Sender->Count(), ToCount = Receiver->Count();
      // A transaction that entered a terminator is shown without its
      // record number, which the pool hands on; the record is still whole
      // (it goes back after this report), so its serial and priority are
      // read.
      if (int32_t(FMoves.size()) < FLimits.Moves)
        FMoves.push_back({Now, From, To, FIsTerminator[std::size_t(To)] ? -1 : Trans->GetTransID(),
                          FromCount, ToCount, Trans->Serial(), Trans->GetPrty()});
      if (FSeriesOf[std::size_t(From)] >= 0)
        Sync(FSeries[std::size_t(FSeriesOf[std::size_t(From)])], Now);
      if (FSeriesOf[std::size_t(To)] >= 0)
        Sync(FSeries[std::size_t(FSeriesOf[std::size_t(To)])], Now);
    }
    if (FOldAfterPass) FOldAfterPass(Sender, Receiver, Trans);
  };
}

TRunRecorder::~TRunRecorder() {
  FModel.OnNewTime = FOldNewTime;
  FModel.OnAfterPass = FOldAfterPass;
}

// The model has gathered its blocks by its first event: every buffer is
// sized here, once.
void TRunRecorder::Start() {
  FStarted = true;
  for (TAggregate* A : FModel.Aggregates())
    if (auto* B = dynamic_cast<TBlock*>(A)) FBlocks.push_back(B);
  const std::size_t N = FBlocks.size();
  FSeriesOf.assign(N, -1);
  FIsTerminator.assign(N, 0);
  FRouteKeys.reserve(4 * N + 16);
  for (std::size_t i = 0; i < N; ++i) {
    FIndex.emplace_back(FBlocks[i], int32_t(i));
    FIsTerminator[i] = dynamic_cast<TTerminator*>(FBlocks[i]) != nullptr;
    if (dynamic_cast<TProQueue*>(FBlocks[i])) {
      FSeriesOf[i] = int32_t(FSeries.size());
      FSeriesIndex.emplace_back(FBlocks[i], FSeriesOf[i]);
      FSeries.push_back({FBlocks[i], {}, 0, FBlocks[i]->Count()});
      FSeries.back().Buckets.reserve(std::size_t(FLimits.Points));
    }
  }
  std::sort(FIndex.begin(), FIndex.end());
  std::sort(FSeriesIndex.begin(), FSeriesIndex.end());
  FLast = 0;
}

int32_t TRunRecorder::IndexOf(const TBlock* Block) const {
  const auto It = std::lower_bound(FIndex.begin(), FIndex.end(), std::make_pair(Block, INT32_MIN));
  return It != FIndex.end() && It->first == Block ? It->second : -1;
}

void TRunRecorder::Sync(TSeries& S, double Now) {
  if (Now > S.Since) Add(S, S.Since, Now, S.Held);
  S.Since = std::max(S.Since, Now);
  S.Held = S.Block->Count();
  Touch(S, S.Since, S.Held);
}

void TRunRecorder::Finish() {
  if (!FStarted) return;
  FLast = std::max(FLast, ModelTime());
  for (TSeries& S : FSeries)
    Sync(S, FLast);
}

void TRunRecorder::Touch(TSeries& S, double Time, int32_t Content) {
  std::size_t i = std::size_t(Time / FWidth);
  if (i >= std::size_t(FLimits.Points)) {
    Halve();
    i = std::size_t(Time / FWidth);
    if (i >= std::size_t(FLimits.Points)) return; // a later Add makes room
  }
  while (S.Buckets.size() <= i)
    S.Buckets.push_back({0, 0, INT32_MAX, INT32_MIN});
  S.Buckets[i].Min = std::min(S.Buckets[i].Min, Content);
  S.Buckets[i].Max = std::max(S.Buckets[i].Max, Content);
}

void TRunRecorder::Add(TSeries& S, double From, double To, int32_t Content) {
  while (From < To) {
    std::size_t i = std::size_t(From / FWidth);
    while (i >= std::size_t(FLimits.Points)) {
      Halve();
      i = std::size_t(From / FWidth);
    }
    const double End = std::min(To, double(i + 1) * FWidth);
    Touch(S, From, Content);
    S.Buckets[i].Covered += End - From;
    S.Buckets[i].Area += double(Content) * (End - From);
    // A bucket's end that rounding left at From would loop for ever.
    From = End > From ? End : To;
  }
}

// Merges neighbouring buckets of every series and doubles the width.
void TRunRecorder::Halve() {
  for (TSeries& S : FSeries) {
    auto& B = S.Buckets;
    const std::size_t Half = (B.size() + 1) / 2;
    for (std::size_t j = 0; j < Half; ++j) {
      TBucket M = B[2 * j];
      if (2 * j + 1 < B.size()) {
        const TBucket& O = B[2 * j + 1];
        M.Covered += O.Covered;
        M.Area += O.Area;
        M.Min = std::min(M.Min, O.Min);
        M.Max = std::max(M.Max, O.Max);
      }
      B[j] = M;
    }
    B.resize(Half);
  }
  FWidth *= 2;
}

std::vector<std::pair<const TBlock*, const TBlock*>> TRunRecorder::Routes() const {
  std::vector<std::pair<const TBlock*, const TBlock*>> Found(FRouteKeys.size());
  for (const auto& [Key, Order] : FRouteKeys)
    Found[std::size_t(Order)] = {FBlocks[std::size_t(Key >> 32)], FBlocks[std::size_t(Key & 0xFFFFFFFFu)]};
  return Found;
}

} // namespace quorin
