#!/usr/bin/env bash
# Calls the bash completion function as bash does on Tab, in a directory whose subdirectories
# have blanks in their names, once in a bare shell and once with bash-completion loaded.
#   tests/completion_test.sh COMPLETION_SCRIPT
# Neither -e nor -u: the functions run as in an interactive shell, which has neither.
set -o pipefail
script=$(realpath "$1")
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir "my bindings" "other dir"
: >"my file"
export LC_ALL=C
failures=0

# check EXPECTED WORD...: the replies to completing the last WORD, sorted and joined by "|".
check() {
    local expected=$1 got
    shift
    COMP_WORDS=(vexlor-bindings "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _vexlor_bindings vexlor-bindings "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd '|')
    if [ "$got" != "$expected" ]; then
        echo "FAIL ($mode): '$COMP_LINE' completes to '$got', expected '$expected'" >&2
        failures=$((failures + 1))
    fi
}

run_cases() {
    check 'my bindings|other dir' patch ''
    check 'my bindings' patch my
    check 'my bindings' unpatch 'my\ b'
    check 'my bindings' status '"my b'
    check 'other dir' status --json o
    check 'help|patch|status|unpatch' ''
    check 'help|patch|status|unpatch' help ''
    check 'unpatch' help u
    check '--dry-run|--help|--json|--quiet|--wait|-h|-n|-q' patch 'my bindings' -
    check '--help|--version|-V|-h' -
}

mode=bare
# shellcheck source=/dev/null
source "$script"
run_cases
bash_completion=/usr/share/bash-completion/bash_completion
if [ -f "$bash_completion" ]; then
    mode=bash-completion
    # shellcheck source=/dev/null
    source "$bash_completion"
    # shellcheck source=/dev/null
    source "$script"
    run_cases
else
    echo "bash-completion is not installed: only the bare shell was tried"
fi
[ "$failures" -eq 0 ] || exit 1
echo "completion OK ($mode)"
