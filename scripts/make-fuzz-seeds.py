#!/usr/bin/env python3
"""Seed files for the fuzz targets from the repository's test data (the
reference telegrams included): python3 make-fuzz-seeds.py TEST_DATA OUT"""
import os, sys

testdata, out = sys.argv[1:3]
def put(kind, name, data):
    d = os.path.join(out, kind)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as fh:
        fh.write(data)

ref = os.path.join(testdata, "reference_telegrams.tsv")
if os.path.exists(ref):
    for n, line in enumerate(open(ref, encoding="utf-8")):
        if line.startswith("#") or line.startswith("telegram\t"):
            continue
        tel = bytes.fromhex(line.split("\t")[0])
        if len(tel) + 1 > 255:
            continue
        frame = bytes([0x68, len(tel) + 1]) + tel + bytes([0xB5, 0x16])
        put("stream", "ref%02d" % n, bytes([n & 0x1F, 7]) + frame)
        put("hex_text", "ref%02d" % n, " ".join("%02X" % b for b in tel[:21]).encode())
sample = os.path.join(testdata, "sample_capture.hex")
if os.path.exists(sample):
    raw = bytes.fromhex(open(sample).read())
    put("stream", "sample", bytes([0x09, 31]) + raw)
for name in os.listdir(testdata):
    path = os.path.join(testdata, name)
    if name.endswith((".csv", ".txt")):
        put("import_grid", name, open(path, "rb").read())
    if name.endswith(".ini"):
        put("ini", name, open(path, "rb").read())
put("import_grid", "two_rows", b"1;00000001;ELS;;\r\n2;00000002;KAM;;\r\n")
put("ini", "basic", b"[Com port]\r\nName=COM3\r\nSpeed=19200\r\n[Misc]\r\nTimeout=0x3E8\r\nWrongCI=1\r\n")
# The command-line and control parsers, from the tests' own cases.
# command_args: repeater ID, version, --now text, then KIND and its ARGS.
for n, case in enumerate([
        "12345678\n3\n2026-12-07 09:05\nrx-hours\n2",
        "12345678\n16\n2026-12-07 09:05:03\nrx-window\n22\n4",
        "12345678\n3\n\nrx-start-hour\n24",
        "12345678\n3\n\nflag\n3\non",
        "12345678\n3\n\nclock-calibration\n-5\noff",
        "12345678\n3\n\nwireless-mode\nMode T+C",
        "12345678\n3\n\nnew-id\n87654321",
        "12345678\n3\n\ncustom\n01 FD 17",
        "12345678\n3\n\ncustom\n01 ZZ",
        "1234\n3\n\nrx-hours\n9",
        "12345678\n+300\n0099-01-01 00:00\ndatetime"]):
    put("command_args", "case%02d" % n, case.encode())
for n, name in enumerate(["COM1", "COM3", "COM50", "COM0", "COM", "COMX", "/dev/pts/7", "ttyUSB0",
                          "/dev/serial/by-id/usb-x", "COM999999999", "gone\nforged"]):
    put("port_name", "name%02d" % n, name.encode())
for n, speed in enumerate(["19200", " 9600 ", "+115200", "abc", "96\n00", "2147483648", "-1", " + 5"]):
    put("speed", "speed%02d" % n, speed.encode())
for n, keys in enumerate([b"0123456789\x08\r\n", b"40", b"3", b"33a", b"\x16\x03", b"032"]):
    put("key_filter", "keys%02d" % n, keys)
put("decode_hex", "bad", b"\x03" + b"68 00 16\n68 0Z 16\n")
put("decode_hex", "split", b"\x01" + b"6 8")
if os.path.exists(sample):
    text = open(sample, "rb").read()
    put("decode_hex", "sample", b"\x05" + text)
    put("replay", "sample_hex", text)
    put("replay", "sample_raw", bytes.fromhex(text.decode()))
put("replay", "frame", bytes([0x68, 3, 0x44, 0x2D, 0x2C, 0x16]) + b"noise")
put("common", "empty", b"")
