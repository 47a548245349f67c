# Prints, one per line, what bash completion offers for a command line whose last word is being
# typed: bash Complete.bash COMPLETION_SCRIPT COMMAND WORD... (the last word may be empty).
source /usr/share/bash-completion/bash_completion
source "$1"
shift
COMP_WORDS=("$@")
COMP_CWORD=$(($# - 1))
COMP_LINE="$*"
COMP_POINT=${#COMP_LINE}
COMPREPLY=()
function=$(complete -p "$1" | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
"$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
