# bash completion for hushmark                              -*- shell-script -*-
#
# Completes the options and command words, and for each command what it
# takes: untracked paths for hide (relative to the repository's top, as
# patterns with a slash are), the hidden patterns for unhide, tracked files
# not yet frozen for freeze and the frozen ones for unfreeze. Needs nothing
# but bash itself.

# Splits a piece of the command line into words as the shell will:
# _hushmark_words gets each word with its quoting removed, the last one
# empty after a blank. For the last word it also sets what the shell's
# completion will replace: only what follows a quote left open, or else what
# follows the last word-break character outside quotes (COMP_WORDBREAKS,
# which holds ':' and '='). _hushmark_kept gets the value of the part of the
# word before that, and _hushmark_quote the quote left open, if any.
_hushmark_split() {
  local line=$1 breaks=${COMP_WORDBREAKS-$' \t\n"\'><=;|&(:'}
  local value= quote= kept= opened= started= char i
  _hushmark_words=()
  for ((i = 0; i < ${#line}; i++)); do
    char=${line:i:1}
    if [[ $quote == "'" ]]; then
      [[ $char == "'" ]] && quote= || value+=$char
    elif [[ $quote == '"' ]]; then
      if [[ $char == '"' ]]; then
        quote=
      else
        # Inside double quotes a backslash escapes only $ ` " and itself.
        [[ $char == '\' && ${line:i+1:1} == [\$\`\"\\] ]] && char=${line:(++i):1}
        value+=$char
      fi
    elif [[ $char == '\' ]]; then
      value+=${line:(++i):1} started=1
    elif [[ $char == [[:space:]] ]]; then
      [[ -n $started ]] && _hushmark_words+=("$value")
      value= kept= started=
    elif [[ $char == [\'\"] ]]; then
      quote=$char opened=$value started=1
    else
      value+=$char started=1
      [[ $breaks == *"$char"* ]] && kept=$value
    fi
  done
  _hushmark_words+=("$value")
  _hushmark_quote=$quote
  [[ -n $quote ]] && _hushmark_kept=$opened || _hushmark_kept=$kept
}

# Reads NUL-separated candidates from standard input and adds to COMPREPLY
# those that begin with the word being completed and are not already on the
# line, each as the shell is to insert it: the part after what stays on the
# line, quoted for where it goes (inside the open quote, or with
# backslashes). The shell closes an open quote after a sole match.
_hushmark_add() {
  local candidate rest word
  while IFS= read -r -d '' candidate; do
    [[ $candidate == "$_hushmark_cur"* ]] || continue
    for word in "${_hushmark_given[@]}"; do
      [[ $word == "$candidate" ]] && continue 2
    done
    rest=${candidate:${#_hushmark_kept}}
    case $_hushmark_quote in
      "'") rest=${rest//"'"/"'\''"} ;;
      '"')
        rest=${rest//'\'/'\\'} rest=${rest//'"'/'\"'}
        rest=${rest//'$'/'\$'} rest=${rest//'`'/'\`'}
        ;;
      *) printf -v rest '%q' "$rest" ;;
    esac
    COMPREPLY+=("$rest")
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
  local -a _hushmark_words _hushmark_given
  local _hushmark_cur _hushmark_kept _hushmark_quote
  # The words after the cursor count as given too; the first is the rest of
  # the word being completed unless the cursor stands before a blank.
  local tail=${COMP_LINE:COMP_POINT} command= rest= word i
  _hushmark_split "$tail"
  _hushmark_given=("${_hushmark_words[@]}")
  [[ $tail == [![:space:]]* ]] && _hushmark_given=("${_hushmark_given[@]:1}")
  _hushmark_split "${COMP_LINE:0:COMP_POINT}"
  _hushmark_cur=${_hushmark_words[-1]}
  # The command word is the first word that is not an option, or the word
  # after a top-level "--". The command's values are its words that are not
  # options, and every word after its own "--".
  for ((i = 1; i < ${#_hushmark_words[@]} - 1; i++)); do
    word=${_hushmark_words[i]}
    if [[ -n $command ]]; then
      if [[ $rest != values && $word == -- ]]; then
        rest=values
      elif [[ $rest == values || $word != -* ]]; then
        _hushmark_given+=("$word")
      fi
    elif [[ $rest == top ]]; then
      command=$word rest=
    elif [[ $word == -- ]]; then
      rest=top
    elif [[ $word != -* ]]; then
      command=$word
    fi
  done

  if [[ -z $command ]]; then
    if [[ $_hushmark_cur == -* && $rest != top ]]; then
      _hushmark_add < <(printf '%s\0' -h --help -V --version)
    else
      _hushmark_add < <(printf '%s\0' hide unhide freeze unfreeze list)
    fi
    return
  fi

  if [[ $_hushmark_cur == -* && $rest != values ]]; then
    case $command in
      hide | unhide | freeze | unfreeze | list)
        _hushmark_add < <(printf '%s\0' -h --help)
        ;;
    esac
    return
  fi

  case $command in
    hide)
      _hushmark_add < <(git ls-files -z --others --exclude-standard --directory --full-name -- ':/' 2>/dev/null)
      ;;
    unhide)
      _hushmark_add < <(_hushmark_listed hide)
      ;;
    freeze)
      _hushmark_add < <(_hushmark_unfrozen)
      ;;
    unfreeze)
      _hushmark_add < <(_hushmark_listed freeze)
      ;;
  esac
}

complete -F _hushmark hushmark
