#!/bin/sh
# Ignores every catchable ending signal, so only SIGKILL stops it. A grandchild keeps the terminal
# open until the killed script has been reaped and half a second longer, so this run's output ends
# well after its Stop. The grandchild exists before the script says it has started, so a Stop on
# that line cannot come first.
trap '' HUP INT TERM QUIT
( while kill -0 $$ 2>/dev/null; do sleep 0.05; done; sleep 0.5; echo "run $$ late" ) &
echo "run $$ started"
exec sleep 1000
