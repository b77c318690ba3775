"""Small text helpers shared by info and watch."""


def shown(text):
    """Text that came from the network, fit for a terminal: never a sequence that moves the cursor,
    clears the screen or recolours it (such text is shown escaped, as a Python literal)."""
    return text if text.isprintable() else ascii(text)


def system_state(code):
    """"WORKING_AUTO_EXECUTE (7)": the controller's system state, named by the library."""
    from .robot import load_module  # robot's messages use shown()

    return _named(load_module().system_state_name(code), code)


def safety_board_state(code):
    from .robot import load_module

    return _named(load_module().safety_board_state_name(code), code)


def _named(name, code):
    return "%s (%d)" % (name if name is not None else "unnamed", code)


def bits(values):
    """[True, False, ...] as "10..." (bit 0 first)."""
    return "".join("1" if v else "0" for v in values)


def on_list(values):
    on = [str(i) for i, v in enumerate(values) if v]
    return ", ".join(on) if on else "none"


def stamp(pair):
    sec, nsec = pair
    return "%d.%09d" % (sec, nsec % 1_000_000_000)


def robot_time(pair):
    """A robot stamp, with its UTC date when it looks like wall-clock time."""
    text = stamp(pair) + " s"
    if pair[0] > 1_000_000_000:
        import datetime

        when = datetime.datetime.fromtimestamp(pair[0], datetime.timezone.utc)
        text += " = %s UTC" % when.strftime("%Y-%m-%d %H:%M:%S")
    return text


def age(seconds):
    if seconds is None:
        return "never"
    if seconds < 1.0:
        return "%d ms" % round(seconds * 1000)
    return "%.1f s" % seconds


def rate(hz):
    if hz is None:
        return "rate being measured"
    return "%.0f Hz" % hz if hz >= 10 else "%.1f Hz" % hz


def value(v):
    """A primitive-state value as the robot meant it (3 and 3.0 differ)."""
    if isinstance(v, float):
        return repr(v)
    if isinstance(v, str):
        return repr(v) if (not v or " " in v or "," in v) else v
    return str(v)


def dof(d):
    return str(int(d)) if float(d).is_integer() else repr(d)


def table(rows, align, indent="  "):
    """Rows of cells as text columns; align has one letter per column, l or r."""
    if not rows:
        return []
    widths = [max(len(str(r[i])) for r in rows) for i in range(len(align))]
    out = []
    for r in rows:
        cells = [str(c).rjust(w) if a == "r" else str(c).ljust(w) for c, w, a in zip(r, widths, align)]
        out.append((indent + "  ".join(cells)).rstrip())
    return out
