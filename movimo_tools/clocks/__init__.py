"""Clock sources: what the show reads its pips from. The tempo clock that
the operator sets by number or by tapping (`tempo`), the follower of an
outside clock (`follow`) fed by a MIDI or OSC clock input (`inputs`), or
the beat of an Ableton Link session (`link`).
"""
