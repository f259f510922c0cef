#!/bin/sh
# Keeps writing to its terminal after Stop: a grandchild in a session of its own, which a Stop
# does not reach, says it is serving once it has left the script's session, waits until the
# killed script has ended, then writes three lines, so every one of them comes after Stop.
trap '' HUP
setsid sh -c 'echo serving
while s=$(cut -d" " -f3 /proc/$1/stat 2>/dev/null) && [ "$s" != Z ]; do sleep 0.05; done
for i in 1 2 3; do echo "after $i"; done' sh $$ &
exec sleep 1000
