"""The subcommands that run shows, kept thin: each reads its command line,
opens a clock source, runs the show's frame loop and sends to its output.
"""
