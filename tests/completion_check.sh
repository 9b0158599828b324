#!/usr/bin/env bash
# The bash completion offers what the program's help lists: every
# subcommand, each subcommand's options, and D64 files as operands.
# Usage: completion_check.sh SOURCE_DIR PROGRAM SCRATCH_DIR
set -u
src=$1
program=$2
work=$3
status=0
complain() { echo "completion: $*"; status=1; }

if [ ! -r /usr/share/bash-completion/bash_completion ]; then
  echo "completion: bash-completion is not installed"
  exit 77
fi
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1091
source "$src/data/bash-completion/dravlen"

# COMPREPLY for the words typed so far, the last one being completed.
complete_words() {
  COMP_WORDS=("$program" "$@")
  COMP_CWORD=$#
  COMP_LINE="${COMP_WORDS[*]}"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _dravlen
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

# Every subcommand of the table, and only those.
listed=$("$program" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z0-9]*\) .*/\1/p' | sort)
[ "$(echo "$listed" | wc -l)" -ge 16 ] || complain "the help lists too few subcommands: $listed"
[ "$(complete_words '')" = "$listed" ] || complain "subcommands: $(complete_words '' | tr '\n' ' ')"
[ "$(complete_words --json re)" = "$(printf 'read\nreread\nreset')" ] ||
  complain "after an option: $(complete_words --json re | tr '\n' ' ')"

# Options per subcommand, from its own help.
for sub in $listed; do
  got=$(complete_words "$sub" --)
  # The offline subcommands work on image files: no --port.
  case "$sub" in ls|extract|map|merge) wanted="--json --help" ;; *) wanted="--port --json --help" ;; esac
  for opt in $wanted; do
    grep -qx -- "$opt" <<<"$got" || complain "$sub lacks $opt"
  done
done
grep -qx -- --batch <<<"$(complete_words read --)" || complain "read lacks --batch"
grep -qx -- --hex <<<"$(complete_words update --)" || complain "update lacks --hex"
grep -qx -- --batch <<<"$(complete_words dir --)" && complain "dir offers --batch"
[ "$(complete_words --drive 1)" = "10
11" ] || complain "--drive values"

# D64 files (and folders) as operands.
mkdir -p "$work/sub" && cd "$work" && touch a.d64 B.D64 c.txt
[ "$(complete_words write '')" = "$(printf 'B.D64\na.d64\nsub')" ] ||
  complain "write operands: $(complete_words write '' | tr '\n' ' ')"

[ $status -eq 0 ] && echo "completion: ok"
exit $status
