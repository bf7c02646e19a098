"""Every console line the streamer's guide quotes is one the program prints, so that the guide cannot drift from the
program: each fixed part of a quoted line (what is left between its <placeholders>) is found in the program's texts.
Usage: check_quotes.py REPOSITORY"""

import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
guide = (root / "docs" / "LISEZMOI.txt").read_text(encoding="utf-8")
# The console's lines are quoted in their appendix, indented by four spaces; explanations are indented further.
appendix = guide.split("ANNEXE B. CE QUE DIT LA CONSOLE")[1].split("\nANNEXE C.")[0]
quoted = [line[4:] for line in appendix.splitlines() if re.match(r" {4}\S", line)]

# The program's texts: its string literals, adjacent ones joined as the compiler joins them, escapes read.
token = re.compile(r'"(?:[^"\\\n]|\\.)*"|\'(?:[^\'\\\n]|\\.)*\'|//[^\n]*|/\*.*?\*/', re.S)
escapes = {"n": "\n", "t": "\t", '"': '"', "'": "'", "\\": "\\"}
texts = []
for path in sorted(root.glob("*/**/*.[ch]pp")):
    if path.relative_to(root).parts[0] in ("tests", "bench", "build"):
        continue
    source, end = path.read_text(encoding="utf-8"), None
    for match in token.finditer(source):
        if not match.group().startswith('"'):
            end = None
            continue
        text = re.sub(r"\\(.)", lambda m: escapes.get(m.group(1), m.group(0)), match.group()[1:-1])
        if end is not None and source[end:match.start()].strip() == "":
            texts[-1] += text
        else:
            texts.append(text)
        end = match.end()



def printed(part, pieces=3):
    """Whether the program can print `part`: within one text, or as texts joined at run time (the end of one, then
    whole ones, then the start of another), as "Configuration " + verb + ": " prints "Configuration chargee: "."""
    if any(part in text for text in texts):
        return True
    if pieces == 1:
        return False
    for text in texts:
        for cut in range(2, min(len(text), len(part) - 1) + 1):
            if text.endswith(part[:cut]) and rest(part[cut:], pieces - 1):
                return True
    return False


def rest(part, pieces):  # `part` starts with a whole text, or is the start of one
    if any(text.startswith(part) for text in texts):
        return True
    return pieces > 1 and any(len(text) >= 2 and part.startswith(text) and rest(part[len(text):], pieces - 1)
                              for text in texts)


missing = []
for line in quoted:
    # Numbers and <placeholders> are what the program fills in.
    parts = [part.strip(" \"'()") for part in re.split(r"<[^>]+>|\d+", line)]
    parts = [part for part in parts if len(part) >= 3]
    if not parts or not all(printed(part) for part in parts):
        missing.append(line)
assert len(quoted) >= 60, f"only {len(quoted)} console lines found in the guide's appendix: is it still there?"
assert not missing, "the guide quotes console lines the program does not print:\n" + "\n".join(missing)
print(f"{len(quoted)} console lines quoted by the guide, each printed by the program")
