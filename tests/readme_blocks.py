"""The fenced code blocks of README.md, for the tests that run them."""

import re
from dataclasses import dataclass
from pathlib import Path

README = Path(__file__).resolve().parent.parent / "README.md"

FENCE = re.compile(r"^```([^\n`]*)\n(.*?)^```$", re.MULTILINE | re.DOTALL)


@dataclass(frozen=True)
class Block:
    info: str  # the fence's info string: "python", "python cookie_demo", "c", ...
    line: int  # line of README.md on which the code starts
    code: str

    def compiled(self):
        # Padded so that tracebacks name the README's own line numbers.
        return compile("\n" * (self.line - 1) + self.code, str(README), "exec")


def blocks(info: str) -> list[Block]:
    text = README.read_text()
    return [Block(m.group(1).strip(), text.count("\n", 0, m.start(2)) + 1, m.group(2))
            for m in FENCE.finditer(text) if m.group(1).strip() == info]
