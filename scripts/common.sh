# Sourced by .ci/run and the scripts of scripts/: the repository root, the compiler cache, the
# linker, and `stage`, which times a step of the run in the log.
#
#   TAV_ROOT        the repository root (set here)
#   TAV_CMAKE_ARGS  what every configuration of the scripts passes to cmake: ccache as the
#                   compiler launcher and lld as the linker, where installed, and line tables
#                   only as debug information (enough for stack traces, a fraction of the size)

TAV_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
TAV_CMAKE_ARGS=("-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")

# ccache, with the paths below the repository root taken as relative and the build folder left out
# of the hash, so that a clone at another path gets the same cache hits.
if command -v ccache > /dev/null; then
    export CCACHE_BASEDIR="$TAV_ROOT" CCACHE_NOHASHDIR=1
    TAV_CMAKE_ARGS+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
if command -v ld.lld > /dev/null; then
    TAV_CMAKE_ARGS+=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=lld
        -DCMAKE_MODULE_LINKER_FLAGS=-fuse-ld=lld)
fi

# stage NAME COMMAND...: runs the command and prints, on standard error, its wall time, the CPU
# time of it and its children, and the load average before and after (other work on the machine
# shows there). The command's exit status is the stage's.
# The command runs in a subshell with errexit on, so that a shell function stops at its first
# failing command as a script does.
stage() {
    local name=$1 rc=0 flags=$-
    shift
    echo "== stage $name: start, load average $(cut -d' ' -f1-3 /proc/loadavg)" >&2
    local TIMEFORMAT="== stage $name: %0R s wall, %0U s user + %0S s system CPU"
    set +e
    time (
        set -e
        "$@"
    )
    rc=$?
    [[ $flags == *e* ]] && set -e
    echo "== stage $name: $([ "$rc" -eq 0 ] && echo done || echo "FAILED ($rc)")," \
        "load average $(cut -d' ' -f1-3 /proc/loadavg)" >&2
    return "$rc"
}
