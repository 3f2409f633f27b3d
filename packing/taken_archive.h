// An archive opened to be changed, held so that no change is lost: brq
// add, rm, mv, sync and compact, and the C API's edits, each take it for
// the whole change, so that two changes at once never write over one
// another's.
#pragma once

#include <optional>
#include <string>

#include "extract/archive_edit.h"

namespace kelvarin {

// "ERROR: Unable to change A: CAUSE\n", the line of a change that can't be
// made.
std::string unable_to_change(const std::string& archive, const std::string& cause);

// Whether `archive` names a symbolic link, which a change would replace
// instead of the file it leads to.
bool names_a_link(const std::string& archive);

// Opens `archive` into `opened` and, where `take` holds, takes it into
// `target` (see take_for_edit), opening it again where another change put
// a new archive in its place meanwhile. Where it can't be opened or taken,
// the failure (Error::is_locked where another edit holds it), with the
// line saying why in `problem`.
Error open_to_change(const std::string& archive, bool take, std::optional<OpenedIndex>& opened, EditTarget& target,
                     std::string& problem);

}  // namespace kelvarin
