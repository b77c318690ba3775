"""tarn: look at a Norvik robot's live data, record it and plot it.

The command-line tool shipped with the norviktarn module. Subcommands:
info, watch, record and plot; `tarn SUBCOMMAND --help` describes each.
"""
