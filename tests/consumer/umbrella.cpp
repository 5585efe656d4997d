// The umbrella header compiles from the installed tree, machinery included.
#include "quorin/quorin.h"

int UmbrellaPoolPages() {
  return quorin::CountPages;
}
