"""Writes the command line's --help texts into the docs at build time, so they follow the parser."""

import contextlib
from pathlib import Path

from ferrule.cli.parser import build_parser

COMMANDS = ("fit", "fit-grid", "transform", "index")


def write_cli_help(out_dir: Path) -> None:
    out_dir.mkdir(exist_ok=True)
    parser = build_parser()
    texts = {"ferrule": parser.format_help()}
    subparsers = next(a for a in parser._actions if a.choices and "fit" in a.choices)
    for name in COMMANDS:
        texts[f"ferrule {name}"] = subparsers.choices[name].format_help()
    for name, text in texts.items():
        path = out_dir / f"{name.replace(' ', '_')}.txt"
        with contextlib.suppress(FileNotFoundError):
            if path.read_text() == text:
                continue  # unchanged: no rebuild of the page that includes it
        path.write_text(text)
