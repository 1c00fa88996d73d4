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
put("common", "empty", b"")
