"""Clock sources: what the show reads its pips from. The tempo clock that
the operator sets by number or by tapping (`tempo`), the follower of an
outside clock (`follow`) fed through a queue (`clock_input`) by a MIDI or
OSC clock input (`inputs`) or by the beats heard in audio (`audio`, with
the analysis in `beats`), or the beat of an Ableton Link session (`link`);
`sources` opens the one a --clock option names.
"""
