# fish completion for brq: commands, each command's options, .brq files for
# archive operands, folders for destinations, and the entry paths of the
# archive named on the line, taken from `brq list` a folder at a time.
#
# Installed as share/fish/vendor_completions.d/brq.fish, where fish looks
# for the completions of packages.

set -l commands list check extract cat diff pack add rm mv sync compact mount help

# Whether the command on the line is one of $argv ("" for none yet).
function __brq_command_is
    set -l words (commandline -opc) ""
    contains -- "$words[2]" $argv
end

# The operands typed so far after the command: options may stand anywhere,
# --exclude, -j, -C and -o take the word after them, and "--" ends the
# options.
function __brq_operands
    set -l words (commandline -opc)[3..]
    set -l options_ended 0
    set -l skip 0
    for word in $words
        if test $skip = 1
            set skip 0
        else if test $options_ended = 0 -a "$word" = --
            set options_ended 1
        else if test $options_ended = 0; and contains -- "$word" --exclude -j --jobs -C --directory -o --output
            set skip 1
        else if test $options_ended = 1; or not string match -qr -- '^-.' $word
            echo $word
        end
    end
end

# Whether the word being typed is $argv[1]: an archive, a folder, or an
# entry of the archive on the line.
function __brq_operand_is
    set -l words (commandline -opc) ""
    set -l role none
    # Given -o, pack's operands are all paths to pack.
    if test "$words[2]" = pack; and string match -qr -- '^(-o|--output)' $words
        test path = $argv[1]
        return
    end
    switch $words[2]:(count (__brq_operands))
        case list:0 check:0 extract:0 cat:0 diff:0 diff:1 mount:0 pack:1 add:0 rm:0 mv:0 sync:0 compact:0
            set role archive
        case extract:1 pack:0 mount:1 sync:1
            set role folder
        case 'add:*'
            set role path
        case 'list:*' 'extract:*' 'cat:*' 'rm:*' mv:1 mv:2
            set role entry
    end
    test $role = $argv[1]
end

# The entry paths of the archive on the line that complete the word being
# typed, a folder level at a time as file names complete: "ma" gives
# "maps/", "maps/" its contents. The plain listing's lines are "kind size
# position  path", the root shown as "/"; anything else (totals) is left out.
function __brq_entries
    set -l archive (__brq_operands)[1]
    set archive (string replace -r '^~(?=/|$)' $HOME -- $archive)
    test -f "$archive"; or return
    set -l brq (commandline -opc)[1]
    set -lx BRQ_CUR (commandline -ct)
    command $brq list -- $archive 2>/dev/null | awk '
        match($0, /^(file|folder) +[0-9]+ +(-|[0-9]+)  /) {
          path = substr($0, RLENGTH + 1)
          if (path == "/") next
          if ($1 == "folder") path = path "/"
          cur = ENVIRON["BRQ_CUR"]
          if (substr(path, 1, length(cur)) != cur || path == cur) next
          slash = index(substr(path, length(cur) + 1), "/")
          if (slash > 0) path = substr(path, 1, length(cur) + slash)
          if (!(path in seen)) { seen[path] = 1; print path }
        }'
end

complete -c brq -f
complete -c brq -n '__brq_command_is ""' -l help -d 'Print the help'
complete -c brq -n '__brq_command_is ""' -l version -d 'Print the version'
complete -c brq -n '__brq_command_is ""' -a list -d 'The entries, in extraction order'
complete -c brq -n '__brq_command_is ""' -a check -d "Check the index and every file's data range"
complete -c brq -n '__brq_command_is ""' -a extract -d 'Extract everything or the named entries'
complete -c brq -n '__brq_command_is ""' -a cat -d "Files' bytes to standard output"
complete -c brq -n '__brq_command_is ""' -a diff -d 'What changed from one archive or folder to another'
complete -c brq -n '__brq_command_is ""' -a pack -d 'Build an archive from a folder'
complete -c brq -n '__brq_command_is ""' -a add -d 'Add or replace files and folders'
complete -c brq -n '__brq_command_is ""' -a rm -d 'Remove entries'
complete -c brq -n '__brq_command_is ""' -a mv -d 'Rename or move an entry'
complete -c brq -n '__brq_command_is ""' -a sync -d 'Make the archive hold exactly a folder'
complete -c brq -n '__brq_command_is ""' -a compact -d 'Rewrite an archive as brq pack would write its extraction'
complete -c brq -n '__brq_command_is ""' -a mount -d 'Show an archive as a read-only folder'
complete -c brq -n '__brq_command_is ""' -a help -d 'The help of a command'
complete -c brq -n '__brq_command_is help' -a "$commands[1..-2]"

# Options, each for the commands that take it.
complete -c brq -n "__brq_command_is $commands[1..-2]" -l help -d 'Print the help'
complete -c brq -n '__brq_command_is list check extract diff add rm mv sync' -l json -d 'One JSON document'
complete -c brq -n '__brq_command_is list' -s h -l human -d 'Sizes in K, M, G, T'
complete -c brq -n '__brq_command_is list extract cat' -l exclude -x -a '(__brq_entries)' \
    -d 'Leave out what a pattern names'
complete -c brq -n '__brq_command_is list extract cat' -l ignore-case -d 'Paths and patterns match in any case'
complete -c brq -n '__brq_command_is extract add rm mv sync' -s q -l quiet -d 'No file or change lines'
complete -c brq -n '__brq_command_is check extract' -s v -l verbose -d 'A line for every failure'
complete -c brq -n '__brq_command_is extract' -l skip-existing -d 'Leave what is there alone'
complete -c brq -n '__brq_command_is extract' -s j -l jobs -x -a '1 2 4 8' -d 'Files written at once'
complete -c brq -n '__brq_command_is extract cat pack add rm mv sync compact' -l progress \
    -d 'Draw the progress line wherever standard error goes'
complete -c brq -n '__brq_command_is extract cat pack add rm mv sync compact' -l no-progress -d 'Never draw the progress line'
complete -c brq -n '__brq_command_is diff' -l order -d 'Name folders whose entries changed order'
complete -c brq -n '__brq_command_is diff' -l all -d 'A line for every entry of a folder on one side only'
complete -c brq -n '__brq_command_is pack add sync' -s h -l dereference -d 'Follow links inside the folder'
complete -c brq -n '__brq_command_is pack add mv sync' -l allow-unportable -d 'Store names Windows cannot hold'
complete -c brq -n '__brq_command_is add rm mv sync' -s n -l dry-run -d 'Print what would change, change nothing'
complete -c brq -n '__brq_command_is add rm mv sync compact' -l drop-damaged -d 'Leave out what an extraction leaves out'
complete -c brq -n '__brq_command_is pack add sync' -l exclude -r -d 'Leave out what a pattern names'
complete -c brq -n '__brq_command_is pack add' -s C -l directory -x -a '(__fish_complete_directories)' \
    -d 'Take the paths below a folder'
complete -c brq -n '__brq_command_is pack' -s o -l output -r -d 'The archive to write'
complete -c brq -n '__brq_command_is mount' -s f -l foreground -d 'Stay in the foreground'

# Operands: archives, folders, entries.
complete -c brq -n '__brq_operand_is archive' -a '(__fish_complete_suffix .brq)'
complete -c brq -n '__brq_operand_is folder' -a '(__fish_complete_directories)'
complete -c brq -n '__brq_operand_is path' -F
complete -c brq -n '__brq_operand_is entry' -a '(__brq_entries)'
complete -c brq -n '__brq_operand_is path' -F
