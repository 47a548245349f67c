# bash completion for quillsever: the window takes PDF files (and --version).

_quillsever() {
    local cur prev words cword
    _init_completion || return
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "--version" -- "$cur"))
        return
    fi
    _filedir '@(pdf|PDF)'
}
complete -F _quillsever quillsever
