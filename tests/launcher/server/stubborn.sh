#!/bin/sh
# A server that no hangup or polite signal ends: only SIGKILL does.
trap '' HUP INT TERM QUIT
echo 'Server ready.'
exec sleep 1000
