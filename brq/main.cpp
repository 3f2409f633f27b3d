// brq: the companion executable over the library.
#include "brq/run_brq.h"
#include "platform/process.h"

namespace {

int brq_main(int argc, char** argv) { return kelvarin::brq::run_brq(argc, argv); }
int brq_out_of_memory() { return kelvarin::brq::out_of_memory(); }

}  // namespace

int main(int argc, char** argv) { return kelvarin::platform::run_main(argc, argv, brq_main, brq_out_of_memory); }
