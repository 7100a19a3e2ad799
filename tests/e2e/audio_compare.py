#!/usr/bin/env python3
"""Compares captured raw 16-bit stereo audio with a rendered WAV file.

usage: audio_compare.py [--allow-gaps] CAPTURE.raw REFERENCE.wav SECONDS
       audio_compare.py --silent CAPTURE.raw

Both streams are aligned on their first non-zero sample (a device may play
silence before the music starts), then must agree sample for sample over
SECONDS seconds of the reference. --allow-gaps accepts whole frames of
silence that the device inserted when it ran dry (the music then carries on
exactly where it stopped); each gap is reported. --silent checks that a
capture holds nothing but zeros.
"""
import struct
import sys

RATE = 44100


def wav_samples(path):
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        sys.exit(f"{path}: not a WAV file")
    pos = 12
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        if tag == b"fmt ":
            fmt, channels, rate, _, _, bits = struct.unpack_from("<HHIIHH", data, pos + 8)
            if (fmt, channels, rate, bits) != (1, 2, RATE, 16):
                sys.exit(f"{path}: not 44100 Hz 16-bit stereo PCM")
        if tag == b"data":
            return data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    sys.exit(f"{path}: no data chunk")


def first_sound(pcm):
    """Byte offset of the first frame holding a non-zero sample."""
    stripped = len(pcm) - len(pcm.lstrip(b"\0"))
    return stripped - stripped % 4


def compare(got, want, allow_gaps):
    """Returns (gaps, None) when got matches want, or (gaps, message)."""
    gaps = []
    i = j = 0  # byte positions in got and want
    while j < len(want):
        if i >= len(got):
            return gaps, f"captured only {j / 4 / RATE:.2f} s of the music, {len(want) / 4 / RATE:.2f} s wanted"
        if got[i:i + 4] == want[j:j + 4]:
            # Skip ahead over the longest equal stretch in one go.
            step = 4
            while step < 1 << 20 and got[i:i + 2 * step] == want[j:j + 2 * step]:
                step *= 2
            i += step
            j += step
            continue
        if allow_gaps and got[i:i + 4] == b"\0\0\0\0":
            start = i
            while i < len(got) and got[i:i + 4] == b"\0\0\0\0":
                i += 4
            gaps.append((j // 4, (i - start) // 4))
            continue
        frame = j // 4
        side = 0 if got[i:i + 2] != want[j:j + 2] else 1
        g = struct.unpack_from("<h", got, i + 2 * side)[0] if i + 4 <= len(got) else None
        w = struct.unpack_from("<h", want, j + 2 * side)[0]
        return gaps, (f"differs at frame {frame} ({frame / RATE:.3f} s) "
                      f"{'right' if side else 'left'}: captured {g}, rendered {w}")
    return gaps, None


def main():
    args = sys.argv[1:]
    if len(args) == 2 and args[0] == "--silent":
        pcm = open(args[1], "rb").read()
        if pcm.strip(b"\0"):
            sys.exit(f"{args[1]}: {len(pcm)} bytes captured, not all silent")
        print(f"{len(pcm)} bytes captured, all silent")
        return
    allow_gaps = bool(args) and args[0] == "--allow-gaps"
    if allow_gaps:
        args = args[1:]
    if len(args) != 3:
        sys.exit(__doc__)
    capture = open(args[0], "rb").read()
    reference = wav_samples(args[1])
    need = int(float(args[2]) * RATE) * 4
    a, b = first_sound(capture), first_sound(reference)
    want = reference[b:b + need]
    print(f"capture: {len(capture)} bytes, sound from frame {a // 4}; "
          f"reference: sound from frame {b // 4}")
    if len(want) < need:
        sys.exit("the reference is too short")
    gaps, problem = compare(capture[a:], want, allow_gaps)
    for frame, length in gaps:
        print(f"the device inserted {length} frames of silence before music frame {frame} ({frame / RATE:.3f} s)")
    if problem:
        sys.exit(problem)
    print(f"{need // 4} frames ({need / 4 / RATE:.1f} s) of music equal sample for sample")


main()
