#!/bin/sh
# Keeps writing to its terminal after it has been killed: a grandchild waits until the killed
# script has been reaped, then writes three lines, so every one of them comes after Stop.
trap '' HUP
( while kill -0 $$ 2>/dev/null; do sleep 0.05; done; for i in 1 2 3; do echo "after $i"; done ) &
echo serving
exec sleep 1000
