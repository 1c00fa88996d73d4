#!/usr/bin/env python3
"""Writes tests/data/sample_capture.hex: a serial capture as the transceiver
would send it, made from the public reference telegrams plus answers of a
repeater with ID 12345678. Re-run it only to change the sample on purpose."""
import os, random, sys

here = os.path.dirname(os.path.abspath(__file__))
ref = os.path.join(here, "..", "..", "shared", "data", "reference_telegrams.tsv")
if len(sys.argv) > 1:
    ref = sys.argv[1]
random.seed(2026)

def frame(tel, rssi):
    return bytes([0x68, len(tel) + 1]) + tel + bytes([rssi, 0x16])

out = []
for line in open(ref, encoding="utf-8"):
    if line.startswith("#") or line.startswith("telegram\t"):
        continue
    cols = line.rstrip("\n").split("\t")
    tel = bytearray.fromhex(cols[0])
    if tel[3:7] == bytes.fromhex("78563412"):
        continue  # that ID is the sample's repeater
    if len(tel) + 1 > 255:
        continue
    out.append(frame(bytes(tel), random.randrange(0x60, 0xF0)))
    ci = tel[9]
    conf = {0x7A: 12, 0x72: 20, 0x78: 20}.get(ci)
    if conf is not None and len(tel) > conf:
        rep = bytearray(tel)
        rep[conf] |= 1
        out.append(frame(bytes(rep), random.randrange(0x60, 0xF0)))

hdr = bytes([0x44, 0x8D, 0x59, 0x78, 0x56, 0x34, 0x12, 0x03, 0x00, 0x7A, 0x05, 0x00, 0x00, 0x00])
status = bytes([0x0F, 0xFF, 0x06, 0x00, 22, 4, 0x00, 0x03,
                0x0F, 0xFF, 0x05, 0x00, 0x01, 0x00, 0x00, 0x80,
                0x04, 0x6D, 0x07, 0x09, 0x47, 0x3C,
                0x0F, 0xFF, 0x00, 0x00, 0x0A, 0x80,
                0x02, 0x24, 0x10, 0x0E,
                0x02, 0x46, 0x10, 0x0E])
flags = bytes([0x0F, 0xFF, 0x05, 0x04, 0x01, 0x00, 0x00, 0x80])
error = bytes([0x01, 0xFD, 0x00, 0x18])
answers = [frame(hdr + status, 0xB5), frame(hdr + flags, 0xB0), frame(hdr + error, 0xA8)]
for i, a in enumerate(answers):
    out.insert(5 + 9 * i, a)

stream = bytearray(b"\x00\x11\x22")  # line noise before the first frame
for f in out:
    stream += f
lines = [" ".join("%02X" % b for b in stream[i:i + 32]) for i in range(0, len(stream), 32)]
dest = os.path.join(here, "..", "tests", "data", "sample_capture.hex")
with open(dest, "w") as fh:
    fh.write("\n".join(lines) + "\n")
print("%d frames, %d bytes -> %s" % (len(out), len(stream), dest))
