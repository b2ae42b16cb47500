// Leaks on purpose. The sanitizer build must catch it: if this program ends quietly, leak checking
// is off in the test run, and the other native tests' silence about leaks proves nothing.
#include <cstdlib>

int main() {
  void* volatile lost = malloc(33);
  lost = nullptr;
  return 0;
}
