"""The show: the frame loop that reads a clock source at each frame's due
time, applies the operator's commands and hands each frame to an output.
"""
