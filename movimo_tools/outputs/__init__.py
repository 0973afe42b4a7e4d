"""Outputs: where the frames of the show go. Each output is one module that
turns a frame into packets and sends them (`osc`, `dmx`); `rig_outputs`
runs every node of a rig as one output, and `discovery` holds what Art-Net
and sACN devices say to find each other; `sending` rides out a failing
network for all of them.
"""
