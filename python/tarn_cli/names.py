"""Names of the controller's state codes (sent as numbers in every basic sample)."""

SYSTEM_STATES = {
    0: "UNKNOWN",
    1: "INIT",
    2: "STOPPED_MANUAL",
    3: "STOPPED_AUTO",
    4: "STOPPED_EXTERNAL_AUTO",
    5: "WORKING_EXTERNAL_AUTO",
    6: "WORKING_MANUAL_EXECUTE",
    7: "WORKING_AUTO_EXECUTE",
    8: "REWIND_EXTERNAL_AUTO",
    9: "REWIND_MANUAL",
    10: "REWIND_AUTO",
    11: "FREEDRIVE_MANUAL",
    12: "FREEDRIVE_AUTO",
    13: "FAULT_MANUAL",
    14: "FAULT_AUTO",
    15: "FAULT_EXTERNAL_AUTO",
    16: "RECOVERY_MANUAL",
    17: "RECOVERY_AUTO",
    18: "RECOVERY_EXTERNAL_AUTO",
}

# sparse on purpose: the safety board's codes are bit patterns
SAFETY_BOARD_STATES = {
    -1: "UNKNOWN",
    0: "STARTUP",
    8: "SYNC",
    9: "RECOVERY",
    10: "REDUCED",
    12: "NORMAL",
    14: "TRANSITION",
    24: "RELEASE_BRAKE",
    40: "CAT_0_STOP",
    72: "CAT_1_STOP",
    136: "CAT_2_STOP",
}


def system_state(code):
    return "%s (%d)" % (SYSTEM_STATES.get(code, "unnamed"), code)


def safety_board_state(code):
    return "%s (%d)" % (SAFETY_BOARD_STATES.get(code, "unnamed"), code)
