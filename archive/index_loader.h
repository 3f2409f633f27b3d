// Loading the archive's index into ExtractState: header, the four tables,
// the node tree, and the checks that decide whether the archive can be
// walked at all and which single entries must be skipped.
#pragma once

#include <string>

#include "archive/extract_state.h"

namespace kelvarin {

// Reads the header and checks its counts against the archive's real size.
// Returns an empty string when the tables fit, else why not. Nothing is
// allocated for the tables before this passes.
std::string read_header(ExtractState& state);

// Takes the five tables from the heap: 0 when all were allocated, -1 when
// memory ran out.
int allocate_tables(ExtractState& state);

// Reads the four on-disk tables in file order: 1, or -1 with `error` set
// when the archive could not deliver them.
int read_tables(ExtractState& state, std::string& error);

// Refuses the archive when a link leads outside the entry table. Empty when
// every link is -1, 0 or an entry between 1 and entry_count - 1.
std::string check_links(const ExtractState& state);

// Turns every entry record into a node and gives each file its ordinal.
// Expects check_links to have passed. Returns 1.
int build_nodes(ExtractState& state);

// Refuses the archive when the walk from node 0 would reach a node twice
// (a cycle, or one entry in two chains).
std::string check_reachability(const ExtractState& state);

// Marks each entry that can't be extracted by itself (its name, its file
// ordinal, its size or its data range); the walk reports and skips them.
void check_entries(ExtractState& state);

// The reason an entry was marked, as a phrase for an error line.
std::string describe_problem(const ExtractState& state, const EntryNode& node);

// All of the above in order. True when the walk can start; otherwise
// `error` says why (without the "ERROR: " that starts the printed line).
bool load_index(ExtractState& state, std::string& error);

}  // namespace kelvarin
