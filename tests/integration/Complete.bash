# Prints, one per line, what bash completion offers for a command line whose last word is being
# typed: bash Complete.bash COMPLETION_SCRIPT WORD... (the last word may be empty).
source /usr/share/bash-completion/bash_completion
source "$1"
shift
COMP_WORDS=("$@")
COMP_CWORD=$(($# - 1))
COMP_LINE="$*"
COMP_POINT=${#COMP_LINE}
COMPREPLY=()
_quillsever_cli quillsever-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
