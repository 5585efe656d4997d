// A one-barber shop: a customer arrives every 18 +- 6 minutes (uniform) and a
// haircut takes 16 +- 4 minutes (uniform). First one 480-minute day, then a
// long run for the steady-state figures. Only the barber's utilisation has a
// closed form here: mean haircut / mean interarrival = 16 / 18.
#include <cmath>
#include <ostream>

#include "models.h"

namespace quorin::examples {

TModel* BuildBarber(TComponent* Form) {
  auto* Model = new TModel(Form);
  Model->SetCheckModel(true); // report wrongly wired blocks at the end of each run
  auto* Arrivals = new TMultiRand(Form);
  auto* Cuts = new TMultiRand(Form);
  Cuts->SetSeed(555555555);

  auto* Door = new TGenerator(Form);
  auto* Chairs = new TQueue(Form);
  auto* Barber = new TServer(Form);
  auto* Exit = new TTerminator(Form);
  Door->SetName("Door");
  Chairs->SetName("Chairs");
  Barber->SetName("Barber");
  Exit->SetName("Exit");

  Door->OnBeforeTimeGoOn = [=](TAggregate*) { Door->NextTime(Arrivals->Uniform(12, 24)); };
  Door->OnAfterGeneration = [=](TBlock*, TTransaction*) {
    Door->NextTime(Arrivals->Uniform(12, 24));
  };
  Door->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Chairs); };
  Chairs->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Barber); };
  Barber->OnEnter = [=](TBlock*, TTransaction*) { Barber->NextTime(Cuts->Uniform(12, 20)); };
  Barber->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
  return Model;
}

std::vector<TFigure> BarberFigures(TModel* Finished, double Minutes) {
  double Usage = NAN, Wait = NAN, Waiting = NAN, Done = NAN;
  if (Finished) {
    Usage = double(FindOnForm<TServer>(*Finished, "Barber").Usage());
    auto& Chairs = FindOnForm<TQueue>(*Finished, "Chairs");
    Wait = double(Chairs.AverageTime());
    Waiting = double(Chairs.AverageCount());
    Done = double(FindOnForm<TTerminator>(*Finished, "Exit").Entries());
  }
  return {
      {"Barber utilisation", Usage, 16.0 / 18.0},
      {"Mean wait in chairs (min)", Wait, std::nullopt},
      {"Mean customers waiting", Waiting, std::nullopt},
      // Customers arrive on average every 18 minutes over the whole run.
      {"Haircuts done", Done, Minutes / 18.0, "", true},
  };
}

std::vector<TFigure> RunBarber(std::ostream& Out, int32_t Days) {
  TComponent Application(nullptr);
  TModel* Model = BuildBarber(new TComponent(&Application));
  Model->SimulateTo(480);
  Out << "Barber shop (arrivals every 18 +- 6 minutes, haircuts of 16 +- 4), one 480-minute "
         "day\n";
  PrintReport(*Model, Out);

  Model->SimulateTo(480.0 * (1 + Days));
  Out << "\nBarber shop, " << Days << " more days (long run)\n";
  PrintRunLength(Out, 0, 480.0 * (1 + Days), "minutes");
  PrintReport(*Model, Out);
  std::vector<TFigure> Figures = BarberFigures(Model, 480.0 * (1 + Days));
  PrintFigures(Figures, Out);
  return Figures;
}

} // namespace quorin::examples
