// The description of TMultiRand.
#include "describe.h"
#include "quorin/statsim.h"

namespace quorin::classes {

namespace {

// The palette image: a die.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
    "777000000000000000000777", "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777",
    "7770FF000FFFFFF000FF0777", "7770FF000FFFFFF000FF0777", "7770FF000FFFFFF000FF0777",
    "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFF000FFFFFFF0777", "7770FFFFFF000FFFFFFF0777",
    "7770FFFFFF000FFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777",
    "7770FF000FFFFFF000FF0777", "7770FF000FFFFFF000FF0777", "7770FF000FFFFFF000FF0777",
    "7770FFFFFFFFFFFFFFFF0777", "7770FFFFFFFFFFFFFFFF0777", "777000000000000000000777",
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
};

} // namespace

const TClassInfo& MultiRandClass() {
  static const TClassInfo Info{
      .Name = "TMultiRand",
      .Order = 900,
      .Create = &Create<TMultiRand>,
      .Is = &Is<TMultiRand>,
      .Base = &ComponentClass(),
      .Report = TReportKind::None,
      .Properties = {Tag(),
                     Ranged(Property<TMultiRand, int64_t>("Seed", TMultiRand::DefaultSeed,
                                                          &TMultiRand::GetSeed,
                                                          &TMultiRand::SetSeed),
                            1, TMultiRand::Modulus - 1),
                     Ranged(Property<TMultiRand, int64_t>("Multiplier",
                                                          TMultiRand::DefaultMultiplier,
                                                          &TMultiRand::GetMultiplier,
                                                          &TMultiRand::SetMultiplier),
                            2, TMultiRand::Modulus - 1)},
      .Summary = "a random stream: a multiplicative congruential generator with a Seed of its own "
                 "and the usual distributions",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
