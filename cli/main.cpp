// Kelvarin_Extract: the executable over the library.
#include "cli/program_main.h"
#include "cli/run_extract.h"

namespace {

int extract_main(int argc, char** argv) { return kelvarin::run_extract(argc, argv); }

}  // namespace

int main(int argc, char** argv) { return kelvarin::run_program_main(argc, argv, extract_main); }
