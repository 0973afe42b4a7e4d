"""Outputs: where the frames of the show go. Each output is one module that
turns a frame into packets and sends them (`osc`, `dmx`); `sending` rides
out a failing network for all of them.
"""
