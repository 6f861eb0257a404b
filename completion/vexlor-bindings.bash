# bash completion for vexlor-bindings                                   -*- shell-script -*-

_vexlor_bindings()
{
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi

    local commands="patch unpatch status help"
    local command="" word i
    for ((i = 1; i < cword; i++)); do
        word=${words[i]}
        case $word in
            patch | unpatch | status | help)
                command=$word
                break
                ;;
        esac
    done

    # --wait takes a number of seconds, which nothing can complete.
    if [[ ${words[cword - 1]} == --wait ]]; then
        COMPREPLY=()
        return
    fi

    if [[ $cur == -* ]]; then
        local options="--help -h"
        case $command in
            patch | unpatch) options+=" --dry-run --quiet --wait" ;;
            status) options+=" --json" ;;
            "") options+=" --version" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    case $command in
        "")
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
            ;;
        help)
            COMPREPLY=($(compgen -W "patch unpatch status" -- "$cur"))
            ;;
        *)
            # BINDINGS_DIR: directories only
            compopt -o filenames 2>/dev/null
            COMPREPLY=($(compgen -d -- "$cur"))
            ;;
    esac
}
complete -F _vexlor_bindings vexlor-bindings

# ex: filetype=sh
