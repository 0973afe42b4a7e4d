"""Control surfaces: where the operator's commands come from, beside the
show, and where its reports go.
"""
