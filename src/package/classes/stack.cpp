// The description of TStack: a queue's in every respect but its order.
#include "describe.h"

namespace quorin::classes {

namespace {

// The palette image: a stack, last in first out.
constexpr const char* Image[24] = {
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
    "777777777777777777770777", "777777777777777777700077", "777777777777777777070707",
    "777CCCCCCCCCCCCCC0770770", "777CCCCCCCCCCCCCC7770777", "777444444444444447770777",
    "777777777777777777770777", "777CCCCCCCCCCCCCC7770777", "777CCCCCCCCCCCCCC7770777",
    "777444444444444447770777", "777777777777777777770777", "777CCCCCCCCCCCCCC7770777",
    "777CCCCCCCCCCCCCC7770777", "777444444444444447770777", "777777777777777777770777",
    "777CCCCCCCCCCCCCC7770777", "777CCCCCCCCCCCCCC7770777", "777444444444444447770777",
    "777777777777777777777777", "777777777777777777777777", "777777777777777777777777",
};

} // namespace

const TClassInfo& StackClass() {
  static const TClassInfo Info{
      .Name = "TStack",
      .Order = 180,
      .Create = &Create<TStack>,
      .Is = &Is<TStack>,
      .Base = &QueueClass(),
      .Report = QueueClass().Report,
      .Statistics = QueueClass().Statistics,
      .Properties = QueueClass().Properties,
      .Events = QueueClass().Events,
      .Summary = "the same as TQueue, last in first out",
      .Image = Image,
  };
  return Info;
}

} // namespace quorin::classes
