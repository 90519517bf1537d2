"""Reads a hand-over file written by a real run with Python's own XML parser:
it must be well-formed UTF-8 and list its sections in the order of a run."""
import sys
import xml.etree.ElementTree as ET

path = sys.argv[1]
raw = open(path, "rb").read()
raw.decode("utf-8")  # strict: any invalid sequence fails the test
root = ET.fromstring(raw)
assert root.tag == "veltro-info", root.tag
order = [child.tag for child in root]
expected = ["file-list", "file-mapping-sfx", "sfx-cmd", "session-id", "temp-base-dir", "products", "repository",
            "title", "title"]
assert order == expected, order
files = root.find("file-list").findall("file")
assert [f.findtext("alias") or "" for f in files] == ["sfx-info.xml", "demo/release.xml", "", "", "sub/x.edat",
                                                              "../escape.edat"], files
assert root.find("products/product").get("name") == "demo"
assert [t.text for t in root.findall("title")] == ["Demo Product", "Demoprodukt"]
print("1 passed, 0 failed")
