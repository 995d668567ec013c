# bash completion for hushmark                              -*- shell-script -*-
#
# Completes the options and command words, and for each command what it
# takes: untracked paths for hide (relative to the repository's top, as
# patterns with a slash are), the hidden patterns for unhide, tracked files
# not yet frozen for freeze and the frozen ones for unfreeze. Needs nothing
# but bash itself.

# Removes the shell's quoting from the word being completed: backslash
# escapes and single or double quotes, as far as they are typed.
_hushmark_dequote() {
  local word=$1 out= quote= char i
  for ((i = 0; i < ${#word}; i++)); do
    char=${word:i:1}
    if [[ $quote == "'" ]]; then
      [[ $char == "'" ]] && quote= || out+=$char
    elif [[ $char == '\' ]]; then
      ((i++))
      out+=${word:i:1}
    elif [[ -n $quote ]]; then
      [[ $char == '"' ]] && quote= || out+=$char
    elif [[ $char == "'" || $char == '"' ]]; then
      quote=$char
    else
      out+=$char
    fi
  done
  printf '%s' "$out"
}

# Reads NUL-separated candidates from standard input and adds those that
# begin with the word being completed to COMPREPLY, quoted for the shell.
_hushmark_add() {
  local prefix=$1 candidate
  while IFS= read -r -d '' candidate; do
    [[ $candidate == "$prefix"* ]] || continue
    printf -v candidate '%q' "$candidate"
    COMPREPLY+=("$candidate")
  done
}

# Undoes the C-style quoting that hushmark list gives a frozen path that
# holds a line feed or begins with a double quote.
_hushmark_unquote() {
  local text=${1:1:${#1}-2} out= char i
  for ((i = 0; i < ${#text}; i++)); do
    char=${text:i:1}
    if [[ $char == '\' ]]; then
      char=${text:i+1:1}
      case $char in
        [0-7])
          printf -v char "\\${text:i+1:3}"
          ((i += 2))
          ;;
        a | b | t | n | v | f | r) printf -v char "\\$char" ;;
      esac
      ((i++))
    fi
    out+=$char
  done
  printf '%s\0' "$out"
}

# The values of hushmark list's lines with one tag, NUL-separated.
_hushmark_listed() {
  local tag=$1 line
  hushmark list 2>/dev/null | while IFS= read -r line; do
    [[ $line == "$tag"$'\t'* ]] || continue
    line=${line#*$'\t'}
    if [[ $tag == freeze && $line == '"'* ]]; then
      _hushmark_unquote "$line"
    else
      printf '%s\0' "$line"
    fi
  done
}

# Tracked files under the current directory that are not frozen yet,
# NUL-separated.
_hushmark_unfrozen() {
  local entry
  git ls-files -v -z 2>/dev/null | while IFS= read -r -d '' entry; do
    case $entry in
      [Ss]\ *) ;;
      ?\ *) printf '%s\0' "${entry:2}" ;;
    esac
  done
}

_hushmark() {
  COMPREPLY=()
  local cur=${COMP_WORDS[COMP_CWORD]} command= rest= word i
  # The command word is the first word that is not an option, or the word
  # after a top-level "--"; after the command's own "--" only values follow.
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ -z $command ]]; then
      if [[ $rest == top ]]; then
        command=$word rest=
      elif [[ $word == -- ]]; then
        rest=top
      elif [[ $word != -* ]]; then
        command=$word
      fi
    elif [[ $word == -- ]]; then
      rest=values
      break
    fi
  done

  if [[ -z $command ]]; then
    if [[ $cur == -* && $rest != top ]]; then
      COMPREPLY=($(compgen -W '-h --help -V --version' -- "$cur"))
    else
      COMPREPLY=($(compgen -W 'hide unhide freeze unfreeze list' -- "$cur"))
    fi
    return
  fi

  if [[ $cur == -* && $rest != values ]]; then
    case $command in
      hide | unhide | freeze | unfreeze | list)
        COMPREPLY=($(compgen -W '-h --help' -- "$cur"))
        ;;
    esac
    return
  fi

  local prefix
  prefix=$(_hushmark_dequote "$cur")
  case $command in
    hide)
      _hushmark_add "$prefix" < <(git ls-files -z --others --exclude-standard --directory --full-name -- ':/' 2>/dev/null)
      ;;
    unhide)
      _hushmark_add "$prefix" < <(_hushmark_listed hide)
      ;;
    freeze)
      _hushmark_add "$prefix" < <(_hushmark_unfrozen)
      ;;
    unfreeze)
      _hushmark_add "$prefix" < <(_hushmark_listed freeze)
      ;;
  esac
}

complete -F _hushmark hushmark
