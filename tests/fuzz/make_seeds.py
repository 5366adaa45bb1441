#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into tests/fuzz/corpus.

The targets decode their input with libFuzzer's FuzzedDataProvider: integers
are taken from the end of the input (most significant byte first), strings
from the front. Encoder mirrors that, so each seed below reads as the call
sequence it stands for. Run it again after changing how a target decodes.

fuzz_fmi3_state's seeds are state images, which only the built library can
make: that target writes them itself,
  KESTRUNE_WRITE_SEEDS=tests/fuzz/corpus/fuzz_fmi3_state \
    build/fuzz/tests/fuzz/fuzz_fmi3_state -runs=0 tests/fuzz/corpus/fuzz_fmi3_state
"""
import pathlib

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"


class Encoder:
    def __init__(self):
        self.front = bytearray()
        self.back = []  # bytes in the order the target consumes them

    def int(self, value, low, high):
        span = high - low
        offset = value - low
        assert 0 <= offset <= span, (value, low, high)
        count = 0
        while count < 8 and (span >> (8 * count)) > 0:
            count += 1
        for k in reversed(range(count)):
            self.back.append((offset >> (8 * k)) & 0xFF)
        return self

    def bool(self, value):
        return self.int(1 if value else 0, 0, 255)

    def string(self, text):
        # A backslash doubles; a backslash and another byte end the string.
        self.front += text.replace(b"\\", b"\\\\") + b"\\x"
        return self

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


# ---- fuzz_fmi_calls ----------------------------------------------------------

START, INSTANTIATE, FREE, SETUP, ENTER, EXIT, RESET = 44, 3, 4, 5, 6, 7, 9
GET_REAL, SET_REAL, DO_STEP = 10, 14, 37
FREED = 4  # pickTarget: a freed handle when there is one

VALUE_INDEX = {"0": 0, "500": 3, "nan": 7, "inf": 8, "-inf": 9, "1e300": 10, "-1e300": 11, "max": 12}


def call(e, function):
    return e.int(function, 0, 44)


def start(e, step_finished=True):
    call(e, START).bool(step_finished)


def do_step(e, slot, steps, time_offset=0):
    call(e, DO_STEP).int(slot, 0, 5)
    e.int(0, 0, 3).int(time_offset, 0, 6)  # the instance's time (+ an offset)
    e.int(0, 0, 3).int(steps, 0, 400)      # a whole number of base steps
    e.bool(True)


def references(e, vrs):
    for vr in vrs:
        e.int(2, 0, 5).int(vr, 0, 20)


def get_real(e, slot, vrs):
    call(e, GET_REAL).int(slot, 0, 5)
    e.int(len(vrs), 0, 40).int(0, 0, 7)
    references(e, vrs)


def set_real(e, slot, vrs, values):
    call(e, SET_REAL).int(slot, 0, 5)
    e.int(len(vrs), 0, 40).int(0, 0, 7)
    references(e, vrs)
    for v in values:
        e.bool(True).int(VALUE_INDEX[v], 0, 20)


def on(e, function, slot):
    call(e, function).int(slot, 0, 5)


def setup_at_zero(e, slot):
    on(e, SETUP, slot)
    e.int(3, 0, 3).int(0, -3, 3)  # start time 0
    e.bool(False).bool(True).int(0, 0, 20).bool(False).bool(True).int(0, 0, 20)


GATES = list(range(7, 19))
INPUTS = list(range(0, 7))


def fmi_seeds():
    seeds = {}

    e = Encoder()
    start(e)
    for k in range(3):
        do_step(e, 0, 20)
        get_real(e, 0, GATES + [19])
    seeds["start_step_read"] = e

    e = Encoder()
    start(e)
    for bad in ("nan", "inf", "-inf", "1e300", "-1e300", "max"):
        set_real(e, 0, INPUTS, [bad] * 7)
        do_step(e, 0, 40)
    set_real(e, 0, INPUTS, ["500"] * 7)
    do_step(e, 0, 20)
    on(e, RESET, 0)
    setup_at_zero(e, 0)
    on(e, ENTER, 0)
    on(e, EXIT, 0)
    do_step(e, 0, 20)
    seeds["bad_inputs_reset_reinitialize"] = e

    e = Encoder()
    start(e)
    start(e, step_finished=False)
    do_step(e, 0, 20)
    on(e, FREE, 1)
    do_step(e, 0, 20)  # the model's blocks were terminated: an error
    on(e, ENTER, 0)
    on(e, EXIT, 0)
    do_step(e, 0, 20)
    on(e, RESET, 0)
    seeds["two_instances_free_newer"] = e

    e = Encoder()
    start(e)
    start(e)
    on(e, FREE, 0)
    on(e, ENTER, 1)
    on(e, EXIT, 1)
    do_step(e, FREED, 20)
    on(e, FREE, FREED)
    do_step(e, 1, 20)
    seeds["use_after_free_of_the_other"] = e

    e = Encoder()
    call(e, INSTANTIATE).int(0, 0, 5).int(1, 0, 3).int(1, 0, 4).int(1, 0, 5)
    e.bool(True).bool(True).bool(False)
    set_real(e, 0, [20], ["nan"])  # meanSampleTime
    setup_at_zero(e, 0)
    on(e, ENTER, 0)
    on(e, EXIT, 0)
    do_step(e, 0, 400)
    do_step(e, 0, 20, time_offset=3)  # 1e-11 late: an error
    seeds["instantiate_logging_bad_sample_time"] = e

    e = Encoder()
    call(e, INSTANTIATE).int(0, 0, 5).int(1, 0, 3).int(0, 0, 4).int(0, 0, 5)
    e.bool(False).int(128, 0, 255).int(7, -2**31, 2**31 - 1).bool(False)  # the type: 7
    setup_at_zero(e, 0)
    on(e, ENTER, 0)
    on(e, EXIT, 0)
    do_step(e, 0, 20)
    seeds["instantiate_type_outside_the_enumeration"] = e
    return seeds


# ---- fuzz_param_matrix -------------------------------------------------------


def matrix_seeds():
    seeds = {}
    e = Encoder()
    e.int(0, 0, 4).string(b"ab")
    e.int(5, -2, 5)
    seeds["string_ab"] = e

    e = Encoder()
    e.int(1, 0, 4).int(2, 0, 8).string(b"ab").string(b"c")
    e.int(3, -2, 7)
    seeds["string_array_ab_c"] = e

    e = Encoder()
    e.int(2, 0, 4)
    e.int(0, 0, 2).int(2, 0, 64)  # rows 2
    e.int(0, 0, 2).int(2, 0, 64)  # cols 2
    for special in (4, 11, 15, 16):  # 97.6, 1e300, -inf, NaN
        e.bool(True).int(special, 0, 17)
    e.int(3, -2, 7)
    seeds["doubles_2x2"] = e

    e = Encoder()
    e.int(4, 0, 4).int(2, 0, 3).bool(True).bool(True)
    e.int(3, -3, 64).int(1, 0, 2**32 - 1).int(4, -3, 64).int(0, 0, 2**32 - 1)
    seeds["array_dimensions"] = e
    return seeds


# ---- fuzz_resource_location ----------------------------------------------------

LOCATIONS = {
    "file_uri": b"file:///C:/Models/unit/resources/",
    "localhost": b"file://localhost/C:/dir",
    "server_share": b"file://server/share",
    "escapes": b"file:///C:/My%20Files/%4a%2Fb%G1x",
    "trailing_percent": b"file:///C:/dir%",
    "separators_only": b"file:////",
    "remote": b"http://example.invalid/resources",
    "plain_path": b"C:\\plain\\path",
    "at_the_limit": b"file:///" + b"p" * 1023 + b"///",
    "past_the_limit": b"file:///" + b"p" * 1023 + b"%41",
}


def main():
    targets = {
        "fuzz_fmi_calls": {k: v.bytes() for k, v in fmi_seeds().items()},
        "fuzz_param_matrix": {k: v.bytes() for k, v in matrix_seeds().items()},
        "fuzz_resource_location": LOCATIONS,
    }
    for target, seeds in targets.items():
        folder = CORPUS / target
        folder.mkdir(parents=True, exist_ok=True)
        for old in folder.iterdir():
            old.unlink()
        for name, data in seeds.items():
            (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
