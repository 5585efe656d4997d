// The description of TStack: a queue in every respect but its order.
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
  static const TClassInfo Info = [] {
    TClassInfo C = QueueClass();
    C.Name = "TStack";
    C.Create = &Create<TStack>;
    C.Is = &Is<TStack>;
    C.Base = &QueueClass();
    C.Summary = "the same as TQueue, last in first out";
    C.Image = Image;
    return C;
  }();
  return Info;
}

} // namespace quorin::classes
