"""Tables of times and ratios, with the target and a PASS/MISS mark on each ratio row."""

import operator

COMPARISONS = {">": operator.gt, ">=": operator.ge, "<=": operator.le}


def ratio_text(ratio):
    """``12.3x``: one decimal, or two below 10."""
    return f"{ratio:.2f}x" if ratio < 10 else f"{ratio:.1f}x"


def target_cells(ratio, target):
    """The target (``op``, value) as text and its mark; ``("-", "-")`` when there is none."""
    if target is None:
        return "-", "-"
    op, bound = target
    return f"{op}{bound:g}x", "PASS" if COMPARISONS[op](ratio, bound) else "MISS"


def seconds_text(seconds):
    return f"{seconds:.3g}"


def print_table(title, headers, rows, notes=()):
    """Print a titled table, columns right-aligned to their widest cell, then its notes."""
    cells = [list(map(str, headers))] + [[str(c) for c in row] for row in rows]
    widths = [max(len(row[i]) for row in cells) for i in range(len(headers))]
    print(f"\n== {title} ==")
    for row in cells:
        print("  ".join(cell.rjust(width) for cell, width in zip(row, widths, strict=True)))
    for note in notes:
        print(f"   {note}")
    print(flush=True)
