// The umbrella header compiles from the installed tree, and so does the
// machinery under quorin/detail/, which tools and tests include directly.
#include "quorin/detail/memoman.h"
#include "quorin/quorin.h"

int UmbrellaPoolPages() {
  return quorin::CountPages;
}
