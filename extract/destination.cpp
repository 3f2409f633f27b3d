// The destination opened before anything is planned, and asked how its
// folders take names: two that differ only in case are one name on a file
// system that ignores case, which the plan must know before it places any.
#include <string>

#include "extract/extraction.h"
#include "names/ascii.h"
#include "names/entry_name.h"
#include "names/name_table.h"

namespace kelvarin {

Destination open_destination(const ExtractOptions& options) {
  platform::FileSystem& files = options.file_system != nullptr ? *options.file_system : platform::os_file_system();
  Destination destination;
  destination.error = files.open_destination(options.destination, options.make_parents, destination.folder);
  if (!destination.ok()) {
    destination.error.on(options.destination);
    return destination;
  }
  // A temporary name no archive can hold, of a number drawn afresh, so that
  // runs asking the same folder at once don't meet; in capitals, it is the
  // same name in the other case.
  const TemporaryName probe(std::to_string(KeyedHash()(0, "case")), false);
  std::string other_case(probe.text());
  for (char& c : other_case) c = ascii_upper(c);
  platform::NativeString probe_name;
  platform::NativeString other_name;
  platform::native_name(probe.text(), probe_name);
  platform::native_name(other_case, other_name);
  bool folds = true;
  // Where it can't be told, names are taken for one: a file is then left
  // out that could have been written, rather than two raced for one name.
  if (!files.folds_case(destination.folder, probe_name, other_name, folds).ok()) folds = true;
  destination.case_rule = CaseRule(folds);
  return destination;
}

}  // namespace kelvarin
