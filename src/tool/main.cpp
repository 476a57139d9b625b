#include <cstdio>

#include "d88_image.h"
#include "messages.h"
#include "run.h"

namespace {

// The one reader of the process: it outlives every way out of the program
// and closes its file when the process ends.
d88::D88Image g_image;

}  // namespace

int main(int argc, char** argv) {
  d88unpack::Console console;
  console.shift_jis = d88unpack::LocaleWantsShiftJis();
  return d88unpack::ToolMain(argc, argv, g_image, console);
}
