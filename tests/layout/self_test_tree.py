"""What the layout checkers' self-tests share: a scratch tree to plant files
in, and the verdicts on what a check of it reported.
"""
import contextlib
import os
import shutil
import tempfile


@contextlib.contextmanager
def scratch_tree(prefix):
    """A scratch folder, removed afterwards, and a write(rel, text) that puts
    a file in it (its folders made as needed)."""
    root = tempfile.mkdtemp(prefix=prefix)

    def write(rel, text):
        os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
        with open(os.path.join(root, rel), "w", encoding="utf-8") as f:
            f.write(text)

    try:
        yield root, write
    finally:
        shutil.rmtree(root)


def quiet(found, healthy):
    """Whether a check of a healthy tree (described as `healthy`) reported
    nothing; it prints what was reported otherwise."""
    if found:
        print(f"self-test: {healthy} was reported:", *found, sep="\n  ")
        return False
    return True


def all_reported(expected, found):
    """0 when each expected report begins one found and nothing more was
    found; 1, with both lists, otherwise."""
    missed = [e for e in expected if not any(p.startswith(e) for p in found)]
    if missed or len(found) != len(expected):
        print("self-test: expected these reports:", *expected, "got:", *found, sep="\n  ")
        return 1
    print(f"self-test: all {len(expected)} planted violations reported")
    return 0
