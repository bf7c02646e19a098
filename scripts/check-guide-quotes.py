"""Every console line the streamer's guide quotes (its appendix B, indented by four spaces) is one the program prints:
what is left of it between <placeholders> and numbers is found in the program's texts.  Usage: check-guide-quotes.py REPO"""

import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
appendix = (root / "docs" / "LISEZMOI.txt").read_text(encoding="utf-8").split("ANNEXE B.")[1].split("\nANNEXE C.")[0]
quoted = [line[4:] for line in appendix.splitlines() if re.match(r" {4}\S", line)]
# The program's string literals, adjacent ones joined as the compiler joins them, escapes read.
token = re.compile(r'"(?:[^"\\\n]|\\.)*"|\'(?:[^\'\\\n]|\\.)*\'|//[^\n]*|/\*.*?\*/', re.S)
texts = []
for path in root.glob("*/**/*.[ch]pp"):
    if path.relative_to(root).parts[0] not in ("tests", "bench", "build"):
        source, end = path.read_text(encoding="utf-8"), None
        for match in token.finditer(source):
            text = re.sub(r"\\(.)", lambda m: {"n": "\n", "t": "\t"}.get(m[1], m[1]), match[0][1:-1])
            if match[0][0] != '"':
                end = None
            elif end is not None and not source[end:match.start()].strip():
                texts[-1], end = texts[-1] + text, match.end()
            else:
                texts.append(text)
                end = match.end()


def printed(part, pieces=3):
    """Within one text, or made of texts joined at run time: the end of one, whole ones, the start of another (as
    "Configuration " + verb + ": " prints "Configuration chargee: ")."""
    return any(part in text for text in texts) or pieces > 1 and any(
        text.endswith(part[:cut]) and starts(part[cut:], pieces - 1)
        for text in texts for cut in range(2, min(len(text), len(part) - 1) + 1))


def starts(part, pieces):
    return any(text.startswith(part) for text in texts) or pieces > 1 and any(
        len(text) >= 2 and part.startswith(text) and starts(part[len(text):], pieces - 1) for text in texts)


parts = {line: [p for p in (p.strip(" \"'()") for p in re.split(r"<[^>]+>|\d+", line)) if len(p) >= 3] for line in quoted}
missing = [line for line, fixed in parts.items() if not fixed or not all(map(printed, fixed))]
assert len(quoted) >= 60, f"only {len(quoted)} console lines found in the guide's appendix B: is it still there?"
assert not missing, "the guide quotes console lines the program does not print:\n" + "\n".join(missing)
print(f"{len(quoted)} console lines quoted by the guide, each printed by the program")
