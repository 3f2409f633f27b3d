// Kelvarin_Extract: the executable over the library.
#include "cli/run_extract.h"
#include "platform/process.h"

namespace {

int extract_main(int argc, char** argv) { return kelvarin::run_extract(argc, argv); }
int extract_out_of_memory() { return kelvarin::out_of_memory(); }

}  // namespace

int main(int argc, char** argv) { return kelvarin::platform::run_main(argc, argv, extract_main, extract_out_of_memory); }
