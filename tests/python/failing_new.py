"""A replacement for operator new, preloaded into a child Python: after arm_failure(size,
n) the n-th allocation of exactly `size` bytes throws std::bad_alloc, as if memory ran out
right there. Shared by the failure tests of the grid loops and of the conversions."""

import os
import shutil
import subprocess

import pytest

SOURCE = r"""
#include <cstddef>
#include <cstdlib>
#include <new>

static std::size_t failSize = 0;
static long failAt = 0, seen = 0;

extern "C" void arm_failure(std::size_t size, long at) { failSize = size; failAt = at; seen = 0; }

void *operator new(std::size_t size) {
    if (failSize != 0 && size == failSize && ++seen == failAt) throw std::bad_alloc();
    if (void *p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
"""

needs_failing_new = pytest.mark.skipif(
    os.environ.get("FERRULE_SANITIZED") == "1" or shutil.which("c++") is None,
    reason="needs a C++ compiler; AddressSanitizer aborts on a failed allocation",
)


def build(tmp_path):
    """Compiles the library into `tmp_path`; returns its path."""
    src, lib = tmp_path / "failing_new.cpp", tmp_path / "libfailingnew.so"
    src.write_text(SOURCE)
    subprocess.run(["c++", "-std=c++17", "-shared", "-fPIC", "-O1", src, "-o", lib], check=True)
    return lib
