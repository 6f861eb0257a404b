# bash completion for vexlor-bindings                                   -*- shell-script -*-
#
# Loaded on demand by the bash-completion package; without it, source this file from ~/.bashrc.
# Every reply is taken one line a name, never split on blanks, so that a directory named
# "my bindings" is offered as one name.

# The words of $1 that start with $2, one a reply.
_vexlor_bindings_words()
{
    local word
    COMPREPLY=()
    for word in $1; do
        [[ $word == "$2"* ]] && COMPREPLY+=("$word")
    done
}

# The directories whose names start with what was typed. compgen matches the text as it
# stands, so the backslashes and the opening quote the user typed are taken off first.
_vexlor_bindings_directories()
{
    compopt -o filenames 2>/dev/null
    local typed=$1 plain="" i
    case $typed in
        \"* | \'*) plain=${typed:1} ;;
        *)
            for ((i = 0; i < ${#typed}; i++)); do
                [[ ${typed:i:1} == \\ ]] && ((i++))
                plain+=${typed:i:1}
            done
            ;;
    esac
    local IFS=$'\n'
    mapfile -t COMPREPLY < <(compgen -d -- "$plain")
}

_vexlor_bindings()
{
    local cur words cword
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
            patch | unpatch) options+=" --dry-run -n --quiet -q --wait --json" ;;
            status) options+=" --json" ;;
            "") options+=" --version -V" ;;
        esac
        _vexlor_bindings_words "$options" "$cur"
        return
    fi

    case $command in
        "" | help) _vexlor_bindings_words "$commands" "$cur" ;;
        *) _vexlor_bindings_directories "$cur" ;;
    esac
}
complete -F _vexlor_bindings vexlor-bindings

# ex: filetype=sh
