# Sourced by compare.sh and huge.sh after `die` and `build` are set: the twin
# and the pristine database the build made, the timer, and the awk of the awk
# peer (AWK, default mawk when installed, else awk).
twin=$build/bin/reindex-cli
pristine=$build/tests/pristine/Database.mdb
[[ -x $twin ]] || die "no $twin; build it first: cmake --build '$build' --target reindex-cli"
[[ -f $pristine ]] || die "no $pristine; the build makes it (target 'database')"
[[ -x /usr/bin/time ]] || die "/usr/bin/time is missing; install the 'time' package (apt-get install time)"
awk=${AWK:-$(command -v mawk || command -v awk || true)}
[[ -n $awk ]] || die "no awk; install mawk (apt-get install mawk)"
