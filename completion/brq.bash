# bash completion for brq: commands, each command's options, .brq files
# for archive operands, folders for destinations, and the entry paths of
# the archive named on the line, taken from `brq list`.
#
# Installed as share/bash-completion/completions/brq, where bash-completion
# loads it on the first `brq <TAB>`; it needs nothing from bash-completion,
# so `source` works on its own too.

# A word as typed, with the quoting the shell would remove: enough for the
# paths people type (quotes, backslash escapes, a leading ~).
_brq_unquote() {
  local word=$1
  case $word in
    \'*) word=${word#\'}; word=${word%\'} ;;
    \"*) word=${word#\"}; word=${word%\"} ;;
    *) word=$(printf '%s' "$word" | sed 's/\\\(.\)/\1/g') ;;
  esac
  case $word in
    "~" | "~/"*) word=$HOME${word#"~"} ;;
  esac
  printf '%s' "$word"
}

# The entry paths of `archive` that complete `cur`, a folder level at a
# time as file names complete: "ma" gives "maps/", "maps/" its contents.
# The plain listing's lines are "kind size position path", the root shown
# as "/"; anything else it prints (a line of totals) is left out.
_brq_entries() {
  local brq=$1 archive=$2 cur=$3
  [ -f "$archive" ] || return 0
  "$brq" list -- "$archive" 2>/dev/null | BRQ_CUR=$cur awk '
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
}

_brq() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=
  [ "$COMP_CWORD" -gt 0 ] && prev=${COMP_WORDS[COMP_CWORD - 1]}
  local commands="list check extract cat diff pack add rm mv sync compact mount help"
  COMPREPLY=()

  if [ "$COMP_CWORD" -eq 1 ]; then
    case $cur in
      -*) mapfile -t COMPREPLY < <(compgen -W "--help --version" -- "$cur") ;;
      *) mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur") ;;
    esac
    return 0
  fi

  local command=${COMP_WORDS[1]}
  local options
  case $command in
    list) options="--json -h --human --exclude --ignore-case" ;;
    check) options="--json -v --verbose" ;;
    extract) options="-q --quiet -v --verbose --skip-existing --json -j --jobs --exclude --ignore-case --progress --no-progress" ;;
    cat) options="--exclude --ignore-case --progress --no-progress" ;;
    diff) options="--json --order --all" ;;
    pack) options="-C --directory -o --output --exclude -h --dereference --allow-unportable --progress --no-progress" ;;
    compact) options="--drop-damaged --progress --no-progress" ;;
    mount) options="-f --foreground" ;;
    add) options="-C --directory -n --dry-run -q --quiet --json --exclude -h --dereference --allow-unportable --drop-damaged --progress --no-progress" ;;
    sync) options="-n --dry-run -q --quiet --json --exclude -h --dereference --allow-unportable --drop-damaged --progress --no-progress" ;;
    rm) options="-n --dry-run -q --quiet --json --drop-damaged --progress --no-progress" ;;
    mv) options="-n --dry-run -q --quiet --json --allow-unportable --drop-damaged --progress --no-progress" ;;
    help | --help | -h)
      [ "$COMP_CWORD" -eq 2 ] && mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
      return 0 ;;
    *) return 0 ;;
  esac

  # Which operand the word is: options may stand anywhere, --exclude, -j,
  # -C and -o take the word after it, and "--" ends the options. Given -o,
  # pack's operands are all paths to pack.
  local i word operand=0 options_ended=0 archive= output=0
  for ((i = 2; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [ $options_ended = 0 ] && [ "$word" = "--" ]; then
      options_ended=1
    elif [ $options_ended = 0 ] && [[ $word == @(--exclude|-j|--jobs|-C|--directory|-o|--output) ]]; then
      [[ $word == @(-o|--output) ]] && output=1
      ((i++))
    elif [ $options_ended = 0 ] && [[ $word == -o?* || $word == --output=* ]]; then
      output=1
    elif [ $options_ended = 1 ] || [ "${word:0:1}" != "-" ] || [ ${#word} -lt 2 ]; then
      [ $operand = 0 ] && [ "$command" != pack ] && archive=$(_brq_unquote "$word")
      ((operand++))
    fi
  done

  if [ $options_ended = 0 ] && [ "${cur:0:1}" = "-" ]; then
    mapfile -t COMPREPLY < <(compgen -W "$options --help" -- "$cur")
    return 0
  fi

  # What the operand is: a .brq file, a folder, or an entry of the archive.
  local role=entry
  [ "$prev" = "--exclude" ] && [ $options_ended = 0 ] && operand=-1
  [ "$command" = pack ] && [ $output = 1 ] && operand=-3
  if [ $options_ended = 0 ]; then
    case $prev in
      -C | --directory) operand=-2 ;;
      -o | --output) [ "$command" = pack ] && operand=-4 ;;
    esac
    case $command:$prev in
      extract:-j | extract:--jobs | pack:--exclude) return 0 ;;
    esac
  fi
  case $command:$operand in
    *:-2) role=folder ;;
    add:-1 | sync:-1) role=path ;;
    *:-1) role=entry ;;
    pack:-3) role=path ;;
    pack:-4) role=archive ;;
    list:0 | check:0 | extract:0 | cat:0 | diff:0 | diff:1 | mount:0 | pack:1 | add:0 | rm:0 | mv:0 | sync:0 | compact:0) role=archive ;;
    extract:1 | pack:0 | mount:1 | sync:1) role=folder ;;
    add:*) role=path ;;
    check:* | diff:* | pack:* | compact:* | mount:* | sync:* | mv:[2-9]*) return 0 ;;
  esac

  compopt -o filenames 2>/dev/null
  case $role in
    archive)
      mapfile -t COMPREPLY < <(compgen -d -- "$cur"; compgen -f -X '!*.[bB][rR][qQ]' -- "$cur") ;;
    folder)
      mapfile -t COMPREPLY < <(compgen -d -- "$cur") ;;
    path)
      mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
    entry)
      [ -n "$archive" ] || return 0
      mapfile -t COMPREPLY < <(_brq_entries "$(_brq_unquote "${COMP_WORDS[0]}")" "$archive" \
                                            "$(_brq_unquote "$cur")")
      # A folder is completed with its "/": the next <TAB> goes inside.
      if [ ${#COMPREPLY[@]} = 1 ] && [ "${COMPREPLY[0]: -1}" = "/" ]; then
        compopt -o nospace 2>/dev/null
      fi ;;
  esac
  return 0
}

complete -F _brq brq
