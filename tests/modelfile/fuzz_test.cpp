// Random and mutated model files: each either loads, and then survives a
// save and a second load unchanged, or is refused with errors that carry a
// line number. Nothing may crash, leak (the sanitizer build checks) or show
// a message to the user. Bounded in time; the generator's seed is fixed, so
// a failure repeats.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>

#include "message_capture.h"
#include "quorin/quorin.h"

using namespace quorin;

namespace {

std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path);
  std::stringstream S;
  S << In.rdbuf();
  return S.str();
}

const char* const Dictionary[] = {"object ",
                                  "end",
                                  "run",
                                  "\n",
                                  "\n  ",
                                  "(",
                                  ")",
                                  ",",
                                  ";",
                                  ":",
                                  "=",
                                  ".",
                                  "\"",
                                  "#",
                                  "\\",
                                  "0",
                                  "-1",
                                  "1e309",
                                  "2147483647",
                                  "2147483648",
                                  "255",
                                  "256",
                                  "0.5",
                                  "1e-300",
                                  "+3",
                                  "9007199254740993",
                                  "TModel",
                                  "TQueue",
                                  "TStack",
                                  "TServer",
                                  "TStorage",
                                  "TGate",
                                  "TGenerator",
                                  "TTerminator",
                                  "TScheduler",
                                  "TMultiRand",
                                  "TTabulator",
                                  "TComponent",
                                  "PassTo(",
                                  "PassFirst(",
                                  "PassByChance(",
                                  "Hold(",
                                  "TimeLimit(",
                                  "NextArrival(",
                                  "SetPriority(",
                                  "SetPreempt",
                                  "StopAfter(",
                                  "Lock(",
                                  "Stop",
                                  "Uniform(",
                                  "Erlang(",
                                  "Gamma(",
                                  "Beta(",
                                  "Triangular(",
                                  "Normal(",
                                  "Capacity = ",
                                  "Seed = ",
                                  "Interval = ",
                                  "IntervalCount = ",
                                  "Preemptive = true",
                                  "OnRouting = ",
                                  "OnEnter = ",
                                  "Until = ",
                                  "Warmup = ",
                                  "Title = ",
                                  "Door",
                                  "Line",
                                  "Clerk",
                                  "Exit",
                                  "Arrivals",
                                  "Services",
                                  "\xff",
                                  "\t",
                                  "\r\n",
                                  "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
                                  "TQueuePrty",
                                  "TStoragePrty",
                                  "TDivider",
                                  "TAssembler",
                                  "TCreator",
                                  "Generate(",
                                  "OnPreempt = "};

std::string Mutate(std::string Text, std::mt19937& Random) {
  auto Pick = [&Random](std::size_t N) {
    return N ? std::uniform_int_distribution<std::size_t>(0, N - 1)(Random) : 0;
  };
  const int Steps = 1 + static_cast<int>(Pick(6));
  for (int s = 0; s < Steps; ++s) {
    const std::size_t At = Pick(Text.size() + 1);
    switch (Pick(6)) {
    case 0: // flip a byte
      if (!Text.empty()) Text[Pick(Text.size())] = static_cast<char>(Pick(256));
      break;
    case 1: // insert a token
      Text.insert(At, Dictionary[Pick(std::size(Dictionary))]);
      break;
    case 2: // delete a stretch
      Text.erase(At, Pick(40));
      break;
    case 3: { // copy a stretch elsewhere
      const std::size_t From = Pick(Text.size() + 1);
      const std::string Piece = Text.substr(From, Pick(80));
      Text.insert(Pick(Text.size() + 1), Piece);
      break;
    }
    case 4: // cut the file
      Text.resize(At);
      break;
    default: { // replace a number-like run of digits
      const std::size_t D = Text.find_first_of("0123456789", At);
      if (D != std::string::npos) Text.replace(D, 1, Dictionary[15 + Pick(12)]);
      break;
    }
    }
  }
  return Text;
}

std::string RandomText(std::mt19937& Random) {
  std::string Text;
  const int N = std::uniform_int_distribution<int>(0, 60)(Random);
  for (int i = 0; i < N; ++i)
    Text += Dictionary[std::uniform_int_distribution<std::size_t>(0, std::size(Dictionary) -
                                                                         1)(Random)];
  return Text;
}

// "fuzz.qm:LINE: text"
bool WithLine(const std::string& Error) {
  const std::string File = "fuzz.qm:";
  if (Error.compare(0, File.size(), File) != 0) return false;
  std::size_t i = File.size();
  const std::size_t Digits = i;
  while (i < Error.size() && Error[i] >= '0' && Error[i] <= '9')
    ++i;
  return i > Digits && Error.compare(i, 2, ": ") == 0 && Error.size() > i + 2;
}

// Loads Text and checks what the loader promises; answers whether it loaded.
bool CheckOne(const std::string& Text) {
  THandlerTable Handlers;
  Handlers.Block["Mine"] = [](TBlock*, TTransaction*) {};
  test::TMessageCapture Shown;
  std::vector<std::string> Errors;
  auto File = LoadModelText(Text, "fuzz.qm", Handlers, Errors);
  EXPECT_TRUE(Shown.Messages.empty()) << Text;
  if (!File) {
    EXPECT_FALSE(Errors.empty()) << Text;
    for (const std::string& E : Errors)
      EXPECT_TRUE(WithLine(E)) << E << "\nin:\n" << Text;
    return false;
  }
  EXPECT_TRUE(Errors.empty());
  std::string Saved, Again;
  std::vector<std::string> SaveErrors;
  EXPECT_TRUE(SaveModelText(*File, Saved, SaveErrors)) << Text;
  auto Second = LoadModelText(Saved, "fuzz.qm", Handlers, Errors);
  EXPECT_TRUE(Second) << Saved << (Errors.empty() ? "" : Errors[0]);
  if (Second) {
    EXPECT_TRUE(SaveModelText(*Second, Again, SaveErrors));
    EXPECT_EQ(Again, Saved);
  }
  return true;
}

TEST(ModelFileFuzz, MutatedAndRandomFilesNeverCrashAndAlwaysNameALine) {
  std::vector<std::string> Seeds;
  for (const char* Name : {"mm1.qm", "mm3.qm", "barber.qm"})
    Seeds.push_back(ReadFile(std::string(QUORIN_EXAMPLES_DIR) + "/" + Name));
  Seeds.push_back(R"(run
  Title = "t\"\\"
  Until = 5
end
object F: TComponent
  object M: TModel
    PageSize = 2048
    OnDeadlock = Stop
  end
  object R: TMultiRand
    Seed = 5
  end
  object G: TGenerator
    OnBeforeTimeGoOn = NextArrival(R.Erlang(1, 3))
    OnRouting = PassByChance(R, Q, 0.5, S, 0.5)
  end
  object Q: TQueue
    Capacity = 2
    OnEnter = TimeLimit(R.Beta(1.5, 2, 0, 1)); SetPriority(4)
    OnTimeFinish = PassFirst(S, T)
    OnRouting = PassTo(S)
  end
  object S: TServer
    Preemptive = true
    OnEnter = Hold(R.Gamma(1, 2.5)); Mine
    OnRouting = PassTo(T)
  end
  object H: TTabulator
    Interval = 0.5
    IntervalCount = 20
  end
  object T: TTerminator
    OnEnter = StopAfter(10)
  end
end
)");
  for (const std::string& S : Seeds)
    ASSERT_TRUE(CheckOne(S)) << S;

  std::mt19937 Random(20261210);
  const auto Start = std::chrono::steady_clock::now();
  int Runs = 0, Loaded = 0;
  while (Runs < 100000 && std::chrono::steady_clock::now() - Start < std::chrono::seconds(3)) {
    const std::string Text =
        Runs % 5 == 4 ? RandomText(Random) : Mutate(Seeds[Runs % Seeds.size()], Random);
    Loaded += CheckOne(Text);
    ++Runs;
    if (::testing::Test::HasFailure()) break; // the first failing input is enough
  }
  // Both outcomes occur, so the mutations do reach the deeper checks.
  EXPECT_GT(Loaded, 0);
  EXPECT_LT(Loaded, Runs);
  std::cout << Runs << " files, " << Loaded << " loaded\n";
}

} // namespace
