// The sentences for entries, archives and the extraction's failures.
#include "messages/entry_messages.h"

#include <algorithm>

#include "names/entry_pattern.h"
#include "names/utf8.h"
#include "platform/files.h"

namespace kelvarin {

std::string one_line(std::string_view text, PathForm form) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
  std::string line;
  line.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x20 || byte == 0x7F) {
      line += '?';
    } else if (is_c1_control(text, at)) {
      // A terminal may take it for the start of a command, as ESC.
      line += '?';
      ++at;
    } else if (byte >= 0x80 && form == PathForm::listed) {
      const std::size_t length = utf8_sequence_length(text, at);
      if (length == 0) {
        line += kReplacement;
        continue;
      }
      line += text.substr(at, length);
      at += length - 1;
    } else {
      line += text[at];
    }
  }
  return line;
}

std::string error_line(std::string_view message, PathForm form) {
  return "ERROR: " + one_line(message, form) + "\n";
}

const char* describe(NameProblem problem) {
  switch (problem) {
    case NameProblem::none:
      return "";
    case NameProblem::leaves_folder:
      return "the name would leave its folder";
    case NameProblem::separator:
      return "the name holds a path separator";
    case NameProblem::control_character:
      return "the name holds a control character";
    case NameProblem::no_file_name:
      return "a file needs a name";
    case NameProblem::temporary_name:
      return "the name is one Kelvarin_Extract keeps for its unfinished files";
    case NameProblem::windows_stream:
      return "the name holds ':', which Windows takes for a drive or a stream";
    case NameProblem::windows_character:
      return "the name holds a character that Windows does not allow";
    case NameProblem::windows_device:
      return "the name is a device on Windows";
    case NameProblem::windows_end:
      return "Windows drops a dot or space at the end of a name";
  }
  return "";
}

std::string describe_damage(const ArchiveIndex& index, std::uint32_t entry) {
  const EntryNode& node = index.node(entry);
  switch (node.problem) {
    case EntryProblem::none:
      return {};
    case EntryProblem::name_outside_pool:
      return "its name offset " + std::to_string(node.name_offset) + " is outside the " +
             std::to_string(index.name_pool_size()) + "-byte name pool";
    case EntryProblem::name_unterminated:
      return "its name at offset " + std::to_string(node.name_offset) + " runs past the end of the name pool";
    case EntryProblem::name_too_long:
      return "its name at offset " + std::to_string(node.name_offset) + " is longer than " +
             std::to_string(kMaxNameBytes) + " bytes";
    case EntryProblem::ordinal_beyond_offsets:
      return "it is file number " + std::to_string(node.file_ordinal) + " but the offset table holds only " +
             std::to_string(index.offset_count()) + " positions";
    case EntryProblem::negative_size:
      return "its size " + std::to_string(node.file_size) + " is negative";
    case EntryProblem::data_beyond_end:
      return "its " + std::to_string(node.file_size) + " bytes at position " +
             std::to_string(*index.data_position(entry)) + " end beyond the archive's end (" +
             std::to_string(index.archive_size()) + " bytes)";
  }
  return {};
}

std::string left_out_reason(const ArchiveIndex& index, std::uint32_t entry, const PlannedEntry& planned,
                            const EntryVisit* visit) {
  switch (planned.refusal) {
    case Refusal::none:
      break;
    case Refusal::damaged:
      return describe_damage(index, entry);
    case Refusal::bad_name:
      return describe(planned.name_problem);
    case Refusal::too_deep:
      return "it lies inside " + (visit != nullptr ? std::to_string(visit->depth) : std::string("more")) +
             " folders, more than the " + std::to_string(kMaxFolderDepth) + " a tree may nest";
    case Refusal::path_too_long:
      return "its path is " +
             (visit != nullptr ? std::to_string(visit->folder_path.size() + visit->name.size()) + " bytes long"
                               : std::string("longer")) +
             ", more than the " + std::to_string(kMaxPathBytes) + " a path may have";
    case Refusal::file_holds_name:
      return "a file of the same name comes before it";
    case Refusal::folder_holds_name:
      return "a folder of the same name comes before it";
    case Refusal::case_twin:
      return "its name differs only in case from " + std::string(index.name(planned.place())) +
             ", which comes before it, and the destination ignores case";
  }
  return {};
}

std::string inside_count(std::uint64_t count) {
  if (count == 0) return {};
  return count == 1 ? "; the 1 entry inside it is skipped"
                    : "; the " + std::to_string(count) + " entries inside it are skipped";
}

std::string case_twins_note(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " name differs" : " names differ") +
         " only in case: on Windows only one of each survives";
}

std::string cause_of(const Error& error) {
  switch (error.finding()) {
    case Error::Finding::none:
      break;
    case Error::Finding::file_ends_early:
      return "it ends before its last byte";
    case Error::Finding::archive_ends_early:
      return "the archive ends before its last byte";
    case Error::Finding::index_ends_early:
      return "the archive ended early";
    case Error::Finding::another_run_writing:
      return "another run is writing it at the same time";
    case Error::Finding::another_run_took_name:
      return "another run took its temporary name at the same time";
  }
  return error.cause();
}

namespace {

const char* looks_like(OtherFormat format) {
  switch (format) {
    case OtherFormat::none:
      return "";
    case OtherFormat::tar:
      return " (it looks like a tar archive)";
    case OtherFormat::zip:
      return " (it looks like a zip archive)";
    case OtherFormat::gzip:
      return " (it looks like a gzip file)";
    case OtherFormat::seven_zip:
      return " (it looks like a 7z archive)";
    case OtherFormat::xz:
      return " (it looks like an xz file)";
  }
  return "";
}

// What is wrong with the index, after the archive's path.
std::string describe(const IndexFault& fault) {
  const std::string value = std::to_string(fault.value);
  const std::string bound = std::to_string(fault.bound);
  const std::string unusable = "is not a usable archive: ";
  switch (fault.kind) {
    case IndexFault::Kind::none:
      break;
    case IndexFault::Kind::too_short:
      return "is too short to be an archive: " + value + " bytes, and the header alone takes " + bound;
    case IndexFault::Kind::entry_count:
      return unusable + "its entry count " + value + " is outside 1 to " + bound;
    case IndexFault::Kind::offset_count:
      return unusable + "its offset count " + value + " is " + bound + " or more";
    case IndexFault::Kind::index_too_large:
      return unusable + "its index needs " + value + " bytes but the archive has " + bound;
    case IndexFault::Kind::link_outside:
      return unusable + "entry " + std::to_string(fault.entry) + " names entry " + value + " as its " +
             (fault.link == IndexFault::Link::next_sibling ? "next sibling" : "first child") +
             ", outside the entry table (" + bound + " entries)";
    case IndexFault::Kind::reached_twice:
      return unusable + "entry " + std::to_string(fault.entry) +
             " is reached twice from the root (a cycle, or one entry in two chains)";
  }
  return unusable + "its index is damaged";
}

}  // namespace

std::string archive_problem(const OpenedIndex& opened) {
  const Error& error = opened.error();
  if (error.is_unusable()) return error.path() + " " + describe(opened.fault()) + looks_like(opened.fault().looks_like);
  if (error.is_out_of_memory()) return "Unable to allocate memory for the index of " + error.path();
  if (error.step() == Error::Step::open) return "Unable to open file: " + error.path() + ": " + cause_of(error);
  return "Unable to read the index of " + error.path() + ": " + cause_of(error);
}

bool cut_off(const ArchiveIndex& index, std::uint32_t entry, const PlannedEntry& planned) {
  return planned.refusal == Refusal::damaged && index.node(entry).problem == EntryProblem::data_beyond_end;
}

std::string cut_off_message(const ArchiveIndex& index, std::uint64_t files) {
  return index.path() + " ends at byte " + std::to_string(index.archive_size()) + ", before the data of " +
         (files == 1 ? "1 file: it is" : std::to_string(files) + " files: they are") +
         " left out (--verbose lists them)";
}

void append_printed_path(std::string& out, const EntryVisit& visit) {
  const std::size_t start = out.size();
  out += visit.folder_path;
  std::replace(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(), '/', '\\');
  out += visit.name;
}

std::string shown_path(const EntryVisit& visit, PathForm form) {
  if (form == PathForm::listed) {
    const std::string path = listed_path(visit);
    return path.empty() ? "/" : path;
  }
  std::string path;
  append_printed_path(path, visit);
  return path;
}

std::string entry_description(const EntryVisit& visit, PathForm form) {
  const std::string entry = "entry " + std::to_string(visit.entry);
  if (visit.name_readable) return entry + ", " + shown_path(visit, form);
  // No name: the folder it is in says where it is.
  return entry + " in " + (visit.depth == 0 ? std::string("the top level") : shown_path(visit, form));
}

std::string left_out_message(const ArchiveIndex& index, const EntryVisit& visit, const PlannedEntry& planned,
                             PathForm form) {
  return "Skipping " + entry_description(visit, form) + ": " + left_out_reason(index, visit.entry, planned, &visit) +
         inside_count(planned.inside());
}

std::string left_out_line(const ArchiveIndex& index, const EntryVisit& visit, const PlannedEntry& planned) {
  if (planned.refusal != Refusal::damaged) return left_out_message(index, visit, planned, PathForm::listed);
  return "Damaged " + entry_description(visit, PathForm::listed) + ": " + describe_damage(index, visit.entry) +
         inside_count(planned.inside());
}

std::string nothing_named(const std::string& path, const std::string& archive) {
  return (has_wildcards(path) ? "No entry matches " : "No entry named ") + path + " in " + archive;
}

std::string ExtractionLines::under_destination(const EntryVisit& visit) const {
  std::string shown = destination_;
  if (form_ == PathForm::listed) {
    const std::string path = listed_path(visit);
    if (!path.empty() && !platform::ends_with_separator(shown)) shown += '/';
    return shown + path;
  }
  // A path that begins with a name (a named root, the root's siblings, a
  // root that is a file) gets a separator after the destination, unless it
  // ends with one already.
  const bool starts_with_name = visit.depth == 0 ? !visit.name.empty() : visit.folder_path.front() != '/';
  if (starts_with_name && !platform::ends_with_separator(shown)) shown += '\\';
  append_printed_path(shown, visit);
  return shown;
}

bool ExtractionLines::repeats(const Error& failure) {
  if (!count_repeats_ || !(failure.is_no_space() || failure.is_read_only())) return false;
  for (Repeated& told : repeated_) {
    if (told.kind == failure.kind() && told.os_code == failure.os_code()) {
      ++told.again;
      return true;
    }
  }
  repeated_.push_back({failure.kind(), failure.os_code(), cause_of(failure)});
  return false;
}

std::vector<std::string> ExtractionLines::closing_lines() const {
  std::vector<std::string> lines;
  if (cut_off_ > 0) lines.push_back(error_line(cut_off_message(index_, cut_off_)));
  for (const Repeated& told : repeated_) {
    if (told.again == 0) continue;
    lines.push_back(error_line((told.again == 1 ? std::string("1 more file or folder")
                                                : std::to_string(told.again) + " more files and folders") +
                               " could not be written: " + told.cause));
  }
  return lines;
}

void ExtractionLines::left_out(const EntryVisit& entry, const PlannedEntry& planned) {
  if (count_repeats_ && cut_off(index_, entry.entry, planned)) {
    ++cut_off_;
    return;
  }
  error(error_line(left_out_message(index_, entry, planned, form_), form_));
}

void ExtractionLines::folder_failed(const EntryVisit& folder, const Error& failure, std::uint64_t inside) {
  if (repeats(failure)) return;
  const std::string shown = under_destination(folder) + (form_ == PathForm::printed ? "\\" : "/");
  // What holds the name is no folder: "doesn't exist" is Kelvarin_Extract's
  // own start of the line, which the cause must not contradict.
  const std::string cause = failure.is_not_a_folder() ? "a file holds its name"
                            : failure.is_link()       ? "a link holds its name, and links are not followed"
                                                      : cause_of(failure);
  if (form_ == PathForm::printed) {
    error(error_line(shown + " doesn't exist! (" + cause + inside_count(inside) + ")", form_));
    return;
  }
  error(error_line("Unable to make folder " + shown + ": " + cause + inside_count(inside), form_));
}

void ExtractionLines::folder_not_named(const EntryVisit& folder, const Error& failure,
                                       std::string_view temporary_name) {
  if (repeats(failure)) return;
  const char* separator = form_ == PathForm::printed ? "\\" : "/";
  error(error_line("Unable to put folder " + under_destination(folder) + separator + " in place: " +
                   cause_of(failure) + "; what was written in it is in " + std::string(temporary_name) +
                   " beside it", form_));
}

void ExtractionLines::file_failed(const EntryVisit& file, const Error& failure, const Error& left) {
  if (repeats(failure)) return;
  std::string where = under_destination(file);
  if (failure.step() != Error::Step::read && failure.step() != Error::Step::write) {
    error(error_line("Unable to create file: " + where + ": " + cause_of(failure), form_));
    return;
  }
  if (!left.ok()) where += " (the part written stays: " + cause_of(left) + ")";
  if (failure.step() == Error::Step::read) {
    error(error_line("Unable to read the data of entry " + std::to_string(file.entry) + " for " + where + ": " +
                     cause_of(failure), form_));
  } else {
    error(error_line("Unable to write file: " + where + ": " + cause_of(failure), form_));
  }
}

void ExtractionLines::destination_failed(const Error& failure) {
  error(error_line("Unable to use " + destination_ + " as the destination folder: " + cause_of(failure), form_));
}

std::string workers_started(unsigned asked, unsigned started) {
  return "only " + std::to_string(started) + " of " + std::to_string(asked) + " workers could be started\n";
}

void ExtractionLines::out_of_memory() { error("ERROR: Unable to allocate memory!\n"); }

}  // namespace kelvarin
