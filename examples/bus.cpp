// Batch arrivals: a bus comes every 15 minutes and brings 1 to 9
// passengers (equally likely, mean 5), who queue at a ticket office with one
// clerk; a ticket takes an exponential time with mean 2.4 minutes. A
// scheduler stands for the timetable and a creator makes each busload.
// Theory gives the clerk's utilisation, 5 x 2.4 / 15 = 0.8, and the number
// of passengers; the waiting time of batches at fixed intervals has no
// closed form.
#include <cmath>
#include <ostream>

#include "models.h"

namespace quorin::examples {

TModel* BuildBus(TComponent* Form) {
  auto* Model = new TModel(Form);
  Model->SetCheckModel(true); // report wrongly wired blocks at the end of each run
  auto* Loads = new TMultiRand(Form);
  auto* Tickets = new TMultiRand(Form);
  Loads->SetSeed(123456789);
  Tickets->SetSeed(987654321);

  auto* Timetable = new TScheduler(Form);
  auto* Bus = new TCreator(Form);
  auto* Line = new TQueue(Form);
  auto* Clerk = new TServer(Form);
  auto* Exit = new TTerminator(Form);
  Timetable->SetName("Timetable");
  Bus->SetName("Bus");
  Line->SetName("Line");
  Clerk->SetName("Clerk");
  Exit->SetName("Exit");

  // Every 15 minutes a bus unloads its passengers at once.
  Timetable->OnBeforeTimeGoOn = [](TAggregate* Self) { Self->NextTime(15); };
  Timetable->OnPlanned = [=](TAggregate* Self) {
    Bus->Generate(1 + int32_t(std::floor(Loads->Uniform(0, 9))));
    Self->NextTime(15);
  };
  Bus->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Line); };
  Line->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Clerk); };
  Clerk->OnEnter = [=](TBlock*, TTransaction*) { Clerk->NextTime(Tickets->Exponential(2.4)); };
  Clerk->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
  return Model;
}

std::vector<TFigure> BusFigures(TModel* Finished, double From) {
  double Usage = NAN, PerHour = NAN, Wait = NAN, Waiting = NAN;
  if (Finished) {
    Usage = double(FindOnForm<TServer>(*Finished, "Clerk").Usage());
    const double Hours = (ModelTime() - From) / 60;
    PerHour = FindOnForm<TCreator>(*Finished, "Bus").Exits() / Hours;
    auto& Line = FindOnForm<TQueue>(*Finished, "Line");
    Wait = double(Line.AverageTime());
    Waiting = double(Line.AverageCount());
  }
  return {
      {"Clerk utilisation", Usage, 0.8},
      {"Passengers per hour", PerHour, 20.0},
      {"Mean wait in line (min)", Wait, std::nullopt},
      {"Mean passengers waiting", Waiting, std::nullopt},
  };
}

std::vector<TFigure> RunBus(std::ostream& Out, double EndTime) {
  TComponent Application(nullptr);
  TModel* Model = BuildBus(new TComponent(&Application));
  Model->SimulateTo(1000);
  Model->ClearStatistics();
  const double From = ModelTime();
  Model->SimulateTo(1000 + EndTime);

  Out << "Bus passengers (1 to 9 every 15 minutes, one clerk, tickets of 2.4 minutes)\n";
  PrintRunLength(Out, 1000, EndTime, "minutes");
  PrintReport(*Model, Out);
  std::vector<TFigure> Figures = BusFigures(Model, From);
  PrintFigures(Figures, Out);
  return Figures;
}

} // namespace quorin::examples
