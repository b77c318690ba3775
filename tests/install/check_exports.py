#!/usr/bin/env python3
"""Checks what libnorvik_tarn.so exports: norvik::tarn's public API (the
names include/norvik declares) and nothing else. No Zenoh layer, spdlog, fmt
or standard-library instantiations, no internals (tarn_impl, zenoh_mdw,
zenoh_msgs, the ozr vocabulary, the private parts of Client and ZenohConfig).
The vocabulary is not public: the records carry its codes as integers.

    check_exports.py LIBRARY INCLUDE_DIR

Prints the exported names; exits 1, naming the offenders, when one is not
public or a public entry point is missing.
"""
import pathlib
import re
import subprocess
import sys

PUBLIC = "norvik::tarn::"
# Symbols that belong to a class rather than to a function or variable.
CLASS_PREFIXES = ("typeinfo for ", "typeinfo name for ", "vtable for ")
# Declared in the public headers, defined and used only inside the library.
PRIVATE_PARTS = ("norvik::tarn::Client::Impl", "norvik::tarn::ZenohConfig::Data")

# What a program may call: each must be exported.
REQUIRED = [
    "norvik::tarn::Client::Client",
    "norvik::tarn::Client::~Client",
    "norvik::tarn::Client::operator=",
    "norvik::tarn::Client::connected",
    "norvik::tarn::Client::groups",
    "norvik::tarn::Client::states",
    "norvik::tarn::Client::actions",
    "norvik::tarn::Client::primitive_states",
    "norvik::tarn::Client::plan_info",
    "norvik::tarn::Client::configuration_score",
    "norvik::tarn::Client::estop_released",
    "norvik::tarn::Client::enabling_device_on",
    "norvik::tarn::Client::digital_inputs",
    "norvik::tarn::Client::digital_outputs",
    "norvik::tarn::Client::stream_health",
    "norvik::tarn::Client::start_sample_queues",
    "norvik::tarn::Client::next_states",
    "norvik::tarn::Client::next_actions",
    "norvik::tarn::Client::take_states",
    "norvik::tarn::Client::take_actions",
    "norvik::tarn::Client::server_version",
    "norvik::tarn::Client::layout",
    "norvik::tarn::Client::system_state",
    "norvik::tarn::Client::safety_board_state",
    "typeinfo for norvik::tarn::Client",
    "vtable for norvik::tarn::Client",
    "norvik::tarn::kJointGroupNames",
    "norvik::tarn::list_robots",
    "norvik::tarn::normalize_serial",
    "norvik::tarn::system_state_name",
    "norvik::tarn::safety_board_state_name",
    "norvik::tarn::system_state_names",
    "norvik::tarn::safety_board_state_names",
    "norvik::tarn::ZenohConfig::defaults",
    "norvik::tarn::ZenohConfig::from_env",
    "norvik::tarn::ZenohConfig::from_file",
    "norvik::tarn::ZenohConfig::from_json5",
    "norvik::tarn::ZenohConfig::connect_to",
    "norvik::tarn::ZenohConfig::description",
    "norvik::tarn::use_zenoh_config",
    "norvik::tarn::zenoh_config",
    "norvik::tarn::zenoh_session_open",
]


def exported(library):
    """The demangled names of the defined dynamic symbols."""
    out = subprocess.run(["nm", "-D", "--defined-only", "-C", str(library)], check=True, capture_output=True,
                         text=True).stdout
    return [line.split(" ", 2)[2] for line in out.splitlines() if line.count(" ") >= 2]


def qualified_name(symbol):
    """The entity a symbol is of: "norvik::tarn::Client::states" for its
    member function, "typeinfo for norvik::tarn::Client" for its type data."""
    name = symbol.split("(", 1)[0]
    name = re.sub(r"\[abi:[^]]*\]", "", name)
    while True:  # template arguments, innermost first
        shorter = re.sub(r"<[^<>]*>", "", name)
        if shorter == name:
            break
        name = shorter
    return name.strip()


def problem(symbol, public_words):
    """Why `symbol` must not be exported, or None."""
    name = qualified_name(symbol)
    entity = name
    for prefix in CLASS_PREFIXES:
        if entity.startswith(prefix):
            entity = entity[len(prefix):]
    if not entity.startswith(PUBLIC):
        return "not in norvik::tarn"
    if entity.startswith(PRIVATE_PARTS):
        return "a private part of a public class"
    for word in entity[len(PUBLIC):].replace("~", "").split("::"):
        if word not in public_words and not word.startswith("operator"):
            return "'%s' is not declared in include/norvik" % word
    return None


def main():
    library, include_dir = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    public_words = set()
    for header in (include_dir / "norvik").rglob("*.h"):
        public_words.update(re.findall(r"[A-Za-z_]\w*", header.read_text()))
    symbols = exported(library)
    bad = [(s, why) for s in symbols if (why := problem(s, public_words))]
    names = {qualified_name(s) for s in symbols}
    missing = [r for r in REQUIRED if r not in names]
    print("%s exports %d symbols:" % (library, len(symbols)))
    for s in sorted(symbols):
        print("  " + s)
    for s, why in bad:
        print("NOT PUBLIC (%s): %s" % (why, s))
    for r in missing:
        print("MISSING: " + r)
    if not symbols or bad or missing:
        return 1
    print("exports: only norvik::tarn's public API")
    return 0


if __name__ == "__main__":
    sys.exit(main())
