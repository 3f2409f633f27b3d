// The sentences for entries, archives and the extraction's failures.
#include "messages/entry_messages.h"

#include <algorithm>

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
  }
  return {};
}

std::string inside_count(std::uint64_t count) {
  if (count == 0) return {};
  return count == 1 ? "; the 1 entry inside it is skipped"
                    : "; the " + std::to_string(count) + " entries inside it are skipped";
}

std::string archive_problem(const Error& error) {
  if (error.is_unusable()) return error.path() + " " + error.cause();
  if (error.is_out_of_memory()) return "Unable to allocate memory for the index of " + error.path();
  if (error.step() == Error::Step::open) return "Unable to open file: " + error.path() + ": " + error.cause();
  return "Unable to read the index of " + error.path() + ": " + error.cause();
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

void ExtractionLines::left_out(const EntryVisit& entry, const PlannedEntry& planned) {
  error(error_line(left_out_message(index_, entry, planned, form_), form_));
}

void ExtractionLines::folder_failed(const EntryVisit& folder, const Error& failure, std::uint64_t inside) {
  const char* separator = form_ == PathForm::printed ? "\\" : "/";
  error(error_line(under_destination(folder) + separator + " doesn't exist! (" + failure.cause() +
                   inside_count(inside) + ")",
                   form_));
}

void ExtractionLines::folder_not_named(const EntryVisit& folder, const Error& failure,
                                       std::string_view temporary_name) {
  const char* separator = form_ == PathForm::printed ? "\\" : "/";
  error(error_line("Unable to put folder " + under_destination(folder) + separator + " in place: " +
                   failure.cause() + "; what was written in it is in " + std::string(temporary_name) +
                   " beside it",
                   form_));
}

void ExtractionLines::file_failed(const EntryVisit& file, const Error& failure, const Error& left) {
  std::string where = under_destination(file);
  if (failure.step() != Error::Step::read && failure.step() != Error::Step::write) {
    error(error_line("Unable to create file: " + where + ": " + failure.cause(), form_));
    return;
  }
  if (!left.ok()) where += " (the part written stays: " + left.cause() + ")";
  if (failure.step() == Error::Step::read) {
    error(error_line("Unable to read the data of entry " + std::to_string(file.entry) + " for " + where + ": " +
                         failure.cause(),
                     form_));
  } else {
    error(error_line("Unable to write file: " + where + ": " + failure.cause(), form_));
  }
}

void ExtractionLines::destination_failed(const Error& failure) {
  error(error_line("Unable to use " + destination_ + " as the destination folder: " + failure.cause(), form_));
}

void ExtractionLines::out_of_memory() { error("ERROR: Unable to allocate memory!\n"); }

}  // namespace kelvarin
