#!/usr/bin/env bash
# The output is a named pipe whose reader opens it and goes away without
# reading: the write fails with error 12, it does not end the process by
# SIGPIPE. Whichever comes first, the reader's close or the filling of the
# pipe, the write fails; no timing decides the result.
mkfifo pipe.s
( exec 3< pipe.s ) &
"$@"
rc=$?
# Lets the reader go should the program never have opened the pipe.
exec 4<> pipe.s 4<&-
wait
exit $rc
