// Ten customers through a generator, a server and a terminator, written as a
// model would be: with the headers of the blocks it uses and nothing else.
#include <iostream>

#include "quorin/blocks/gate.h"
#include "quorin/blocks/generator.h"
#include "quorin/blocks/server.h"

int main() {
  using namespace quorin;
  TComponent Application(nullptr);
  auto* Form = new TComponent(&Application);
  auto* Model = new TModel(Form);
  auto* Door = new TGenerator(Form);
  auto* Desk = new TServer(Form);
  auto* Exit = new TTerminator(Form);
  Door->OnBeforeTimeGoOn = [=](TAggregate*) { Door->NextTime(1); };
  Door->OnAfterGeneration = [=](TBlock*, TTransaction*) {
    if (Door->Exits() < 9) Door->NextTime(1);
  };
  Door->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Desk); };
  Desk->OnEnter = [=](TBlock*, TTransaction*) { Desk->NextTime(0.5); };
  Desk->OnRouting = [=](TBlock* Sender, TTransaction*) { Sender->PassTo(Exit); };
  Model->Simulate(100);
  std::cout << Exit->Entries() << '\n';
  return Exit->Entries() == 10 ? 0 : 1;
}
