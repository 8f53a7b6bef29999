"""Checks the comparison of recorded copies and the mending of holes on synthetic signals, which
need no fldigi: python3 -m unittest discover -s scripts/peers"""

import array
import math
import unittest

from recording import RATE, copy_difference, cw_silence, psk_rtty_silence, without_holes

SILENCE = array.array("h", bytes(2 * 100))


def tone(count, hz=1000.0):
    return array.array("h", (round(20000 * math.cos(2 * math.pi * hz * n / RATE)) for n in range(count)))


def keyed(pattern, dot=480, edge=32):
    """CW as fldigi keys it: (tone?, dots) pairs, soft edges, pauses of exact silence plus two samples."""
    out = array.array("h")
    for on, dots in pattern:
        if on:
            body = tone(dots * dot)
            for n in range(edge):
                shape = (1 - math.cos(math.pi * (n + 1) / (edge + 1))) / 2
                body[n] = round(body[n] * shape)
                body[-1 - n] = round(body[-1 - n] * shape)
            out += body
        else:
            out += array.array("h", bytes(2 * (dots * dot + 2)))
    return out


def with_hole(signal, at, length):
    return signal[:at] + array.array("h", bytes(2 * length)) + signal[at:]


class CopyDifference(unittest.TestCase):
    def test_an_intact_copy_may_start_late_but_not_differ(self):
        original = tone(4000)
        self.assertIsNone(copy_difference(SILENCE + original + SILENCE, original))
        self.assertIn("differs", copy_difference(SILENCE + with_hole(original, 1000, 64), original))
        self.assertIn("short", copy_difference(SILENCE + original[:3000], original))
        self.assertEqual(copy_difference(SILENCE, original), "the copy is silent")


class MendingHoles(unittest.TestCase):
    def test_holes_in_a_tone_come_out_whole(self):
        signal = tone(8000)  # exact zero crossings at every 8th sample from the 2nd and the 6th
        for at, length in ((11, 64), (3002, 2), (5006, 4000)):
            with self.subTest(at=at, length=length):
                self.assertEqual(without_holes(with_hole(signal, at, length), psk_rtty_silence), (signal, length))

    def test_cw_pauses_are_shortened_to_whole_dots_and_guesses_are_reported(self):
        signal = keyed([(1, 1), (0, 1), (1, 3), (0, 3), (1, 1), (0, 7), (1, 3)])
        cases = (  # where, how long, guessed, mended right
            (1000, 0, False, True),  # intact
            (200, 100, False, True),  # inside the first tone
            (3000, 200, True, True),  # inside the 3-dot pause
            (3000, 1500, True, True),  # still shorter than the next pause fldigi keys
            (3000, 2000, True, False),  # longer: the 3-dot pause is taken for a 7-dot one
        )
        for at, length, guessed, right in cases:
            with self.subTest(at=at, length=length):
                holed = with_hole(signal, at, length)
                guesses = []
                mended, removed = without_holes(holed, cw_silence(20, holed, guesses))
                self.assertEqual(bool(guesses), guessed)
                self.assertEqual(mended == signal, right)


if __name__ == "__main__":
    unittest.main()
