/* Prints where kelvarin.h puts each field of the structs the Python module
   mirrors, as "struct field offset" lines and "struct sizeof size", for the
   test that compares them with the module's ctypes declarations. */
#include <kelvarin.h>

#include <stddef.h>
#include <stdio.h>

#define FIELD(type, name) printf("%s %s %zu\n", #type, #name, offsetof(type, name))
#define SIZE(type) printf("%s sizeof %zu\n", #type, sizeof(type))

int main(void) {
  FIELD(kelvarin_entry, number); FIELD(kelvarin_entry, depth); FIELD(kelvarin_entry, path);
  FIELD(kelvarin_entry, path_size); FIELD(kelvarin_entry, kind); FIELD(kelvarin_entry, size);
  FIELD(kelvarin_entry, data_position); FIELD(kelvarin_entry, fate); FIELD(kelvarin_entry, reason);
  FIELD(kelvarin_entry, inside_count); FIELD(kelvarin_entry, message); SIZE(kelvarin_entry);

  FIELD(kelvarin_event, kind); FIELD(kelvarin_event, path); FIELD(kelvarin_event, path_size);
  FIELD(kelvarin_event, number); FIELD(kelvarin_event, size); FIELD(kelvarin_event, reason);
  FIELD(kelvarin_event, inside_count); FIELD(kelvarin_event, error); FIELD(kelvarin_event, message);
  FIELD(kelvarin_event, files_done); FIELD(kelvarin_event, files_total); FIELD(kelvarin_event, bytes_done);
  FIELD(kelvarin_event, bytes_total); FIELD(kelvarin_event, to); FIELD(kelvarin_event, to_size);
  FIELD(kelvarin_event, entry_kind); SIZE(kelvarin_event);

  FIELD(kelvarin_reader, user); FIELD(kelvarin_reader, size); FIELD(kelvarin_reader, read);
  FIELD(kelvarin_reader, close); SIZE(kelvarin_reader);

  FIELD(kelvarin_extract_options, struct_size); FIELD(kelvarin_extract_options, jobs);
  FIELD(kelvarin_extract_options, skip_existing); FIELD(kelvarin_extract_options, make_parents);
  FIELD(kelvarin_extract_options, ignore_case); FIELD(kelvarin_extract_options, paths);
  FIELD(kelvarin_extract_options, path_count); FIELD(kelvarin_extract_options, excludes);
  FIELD(kelvarin_extract_options, exclude_count); FIELD(kelvarin_extract_options, on_event);
  FIELD(kelvarin_extract_options, user); SIZE(kelvarin_extract_options);

  FIELD(kelvarin_check_result, struct_size); FIELD(kelvarin_check_result, sound);
  FIELD(kelvarin_check_result, entries); FIELD(kelvarin_check_result, folders);
  FIELD(kelvarin_check_result, files); FIELD(kelvarin_check_result, total_bytes);
  FIELD(kelvarin_check_result, left_out); FIELD(kelvarin_check_result, damaged);
  FIELD(kelvarin_check_result, unused_bytes); FIELD(kelvarin_check_result, unreachable);
  FIELD(kelvarin_check_result, case_twins); FIELD(kelvarin_check_result, data_inside_index);
  SIZE(kelvarin_check_result);

  FIELD(kelvarin_pack_options, struct_size); FIELD(kelvarin_pack_options, excludes);
  FIELD(kelvarin_pack_options, exclude_count); FIELD(kelvarin_pack_options, allow_unportable);
  FIELD(kelvarin_pack_options, dereference); FIELD(kelvarin_pack_options, on_event);
  FIELD(kelvarin_pack_options, user); SIZE(kelvarin_pack_options);

  FIELD(kelvarin_edit_options, struct_size); FIELD(kelvarin_edit_options, dry_run);
  FIELD(kelvarin_edit_options, directory); FIELD(kelvarin_edit_options, excludes);
  FIELD(kelvarin_edit_options, exclude_count); FIELD(kelvarin_edit_options, allow_unportable);
  FIELD(kelvarin_edit_options, dereference); FIELD(kelvarin_edit_options, on_event);
  FIELD(kelvarin_edit_options, user); FIELD(kelvarin_edit_options, drop_damaged);
  SIZE(kelvarin_edit_options);
  return 0;
}
