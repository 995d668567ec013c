# fish completion for hushmark: options, command words, and for each command
# what it takes: untracked paths for hide (relative to the repository's top,
# as patterns with a slash are), the hidden patterns for unhide,
# tracked files not yet frozen for freeze and the frozen ones for unfreeze.

set -l commands hide unhide freeze unfreeze list

# Prints the values of `hushmark list` lines with one tag; a quoted frozen
# path (one that holds a line feed) is left out.
function __hushmark_listed -a tag
    hushmark list 2>/dev/null | while read -l line
        string match -q -- "$tag"\t'*' $line; or continue
        set -l value (string replace -- "$tag"\t '' $line)
        test $tag = freeze; and string match -q -- '"*' $value; and continue
        printf '%s\n' $value
    end
end

function __hushmark_unfrozen
    git ls-files -v -z 2>/dev/null | string split0 | string match -rv -- '^[Ss] ' | string sub -s 3
end

# Passes on the values read that are not already on the command line after
# the command word.
function __hushmark_new
    set -l given (commandline -opc)[3..-1]
    while read -l value
        contains -- $value $given; or printf '%s\n' $value
    end
end

complete -c hushmark -f
complete -c hushmark -n "not __fish_seen_subcommand_from $commands" -s h -l help -d 'Show the usage'
complete -c hushmark -n "not __fish_seen_subcommand_from $commands" -s V -l version -d 'Show the version'
complete -c hushmark -n "not __fish_seen_subcommand_from $commands" -a hide -d 'Add patterns to the exclude file'
complete -c hushmark -n "not __fish_seen_subcommand_from $commands" -a unhide -d 'Remove patterns from the exclude file'
complete -c hushmark -n "not __fish_seen_subcommand_from $commands" -a freeze -d 'Mark tracked files as skip-worktree'
complete -c hushmark -n "not __fish_seen_subcommand_from $commands" -a unfreeze -d 'Clear skip-worktree from tracked files'
complete -c hushmark -n "not __fish_seen_subcommand_from $commands" -a list -d 'List hidden patterns and frozen paths'
complete -c hushmark -n "__fish_seen_subcommand_from $commands" -s h -l help -d 'Show the usage'
complete -c hushmark -n "__fish_seen_subcommand_from hide" -a '(git ls-files -z --others --exclude-standard --directory --full-name -- :/ 2>/dev/null | string split0 | __hushmark_new)' -d 'Untracked'
complete -c hushmark -n "__fish_seen_subcommand_from unhide" -a '(__hushmark_listed hide | __hushmark_new)' -d 'Hidden'
complete -c hushmark -n "__fish_seen_subcommand_from freeze" -a '(__hushmark_unfrozen | __hushmark_new)' -d 'Tracked'
complete -c hushmark -n "__fish_seen_subcommand_from unfreeze" -a '(__hushmark_listed freeze | __hushmark_new)' -d 'Frozen'
