#!/bin/sh
# Ignores every catchable ending signal, so only SIGKILL stops it. A grandchild in a session of its
# own, which a Stop does not reach, keeps the terminal open until the killed script has ended and
# half a second longer, so this run's output ends well after its Stop. The grandchild says that the
# run has started once it has left the script's session, so a Stop on that line cannot reach it.
trap '' HUP INT TERM QUIT
setsid sh -c 'echo "run $1 started"
while s=$(cut -d" " -f3 /proc/$1/stat 2>/dev/null) && [ "$s" != Z ]; do sleep 0.05; done
sleep 0.5; echo "run $1 late"' sh $$ &
exec sleep 1000
