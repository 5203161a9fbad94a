#!/usr/bin/python3
"""Stands in for ortel-helper where the real one cannot be made to answer
late on purpose: the clients' tests start it to check that a reply coming
after its question timed out is taken for that question, never for the next.

It writes the opening lines, then answers its first check-focus after
0.5 s with a reason line and "focus:none", and every later one at once with
"focus:editable", in order. It ends when its input does.
"""
import sys
import time


def say(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


say("ready")
say("debug:watching option")
say("trusted:true")
asked = 0
for line in sys.stdin:
    if line.rstrip("\n") != "check-focus":
        continue
    asked += 1
    if asked == 1:
        time.sleep(0.5)
        say("debug:focus-unavailable timeout")
        say("focus:none")
    else:
        say("focus:editable")
