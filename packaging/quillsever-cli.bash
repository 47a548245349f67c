# bash completion for quillsever-cli: commands, each command's options, and file names where a
# command takes files (PDFs for split, plan, ranges and pages, batch files for run and jobs,
# logs for log).

_quillsever_cli() {
    local cur prev words cword
    _init_completion || return

    local commands="split plan ranges run pages jobs log expand check help"
    if [[ $cword -eq 1 ]]; then
        COMPREPLY=($(compgen -W "$commands --help --version" -- "$cur"))
        return
    fi

    local command=${words[1]} options
    case $command in
        split | plan) options="--to --move-to --increment --names --start --skip --offset
                               --no-bookmarks --trace --quiet" ;;
        run) options="--jobs --shard --log --check --trace --quiet" ;;
        jobs) options="--save" ;;
        log) options="--csv --merge" ;;
        expand) options="--pages --skip" ;;
        check) options="--pages --skip --to" ;;
        ranges) options="--bookmarks --max-size --no-bookmarks --to --blank-separators --max-ink
                         --text" ;;
        *) options="" ;;
    esac

    case $prev in
        --to | --move-to)
            _filedir -d
            return
            ;;
        --save)
            _filedir spl
            return
            ;;
        --csv)
            _filedir csv
            return
            ;;
        --log)
            _filedir log
            return
            ;;
        --names | --start | --skip | --offset | --pages | --shard | --jobs | --bookmarks | \
            --max-size | --max-ink | --text)
            return
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    case $command in
        split | plan | pages | ranges) _filedir '@(pdf|PDF)' ;;
        run | jobs) _filedir spl ;;
        log) _filedir log ;;
    esac
}
complete -F _quillsever_cli quillsever-cli
