# Sourced by compare.sh and huge.sh after `die` and `build` are set: the twin
# and the pristine database the build made, the timer, and the awk of the awk
# peer (AWK, default mawk when installed, else awk). BEFORE, when set, is
# another build directory (of an earlier commit, say) whose twin is timed
# beside this one, with its own pristine database: before and after a change
# in one invocation, alternating.
twin=$build/bin/reindex-cli
pristine=$build/tests/pristine/Database.mdb
[[ -x $twin ]] || die "no $twin; build it first: cmake --build '$build' --target reindex-cli"
[[ -f $pristine ]] || die "no $pristine; the build makes it (target 'database')"
[[ -x /usr/bin/time ]] || die "/usr/bin/time is missing; install the 'time' package (apt-get install time)"
awk=${AWK:-$(command -v mawk || command -v awk || true)}
[[ -n $awk ]] || die "no awk; install mawk (apt-get install mawk)"
before_twin=
before_pristine=
if [[ -n ${BEFORE:-} ]]; then
    before_twin=$BEFORE/bin/reindex-cli
    before_pristine=$BEFORE/tests/pristine/Database.mdb
    [[ -x $before_twin ]] || die "no $before_twin (BEFORE)"
    [[ -f $before_pristine ]] || die "no $before_pristine (BEFORE)"
fi
