"""Failures of a save's file calls that are no error of the save: a call
refused for want of permission on the way to replacing a writable file makes
the save write that file in place; a directory that cannot be opened for
reading, or flushed, is tolerated once the new file has its name; a file
system without unnamed files gets a named temporary file, a name taken
meanwhile another name, and one without
extended attributes or ACLs has none to copy; an attribute removed or grown
while it is copied is left out or read again. Each time the save succeeds
with the bytes of an undisturbed save and leaves no other file."""

import errno
import os

import pytest

from reliability_helpers import run_python

CHILD = """
import ctypes, json, os, revevu
shim = ctypes.CDLL({shim!r})
shim.revevu_fault_trace.restype = ctypes.c_char_p
protocol = revevu.Protocol()
protocol.add_constant_signal(0.5)
target = os.path.join({folder!r}, "t.vesk")

def fresh():
    if {existing!r}:
        with open(target, "wb") as f:
            f.write(b"an older file")
        os.setxattr(target, "user.note", b"kept")
    elif os.path.exists(target):
        os.remove(target)

fresh()
shim.revevu_fault_arm(0, 0, 0)  # counts the calls, fails none
protocol.save(target)
shim.revevu_fault_disarm()
calls = shim.revevu_fault_trace().decode().split(",")
undisturbed = open(target, "rb").read()
fresh()
inode = os.stat(target).st_ino if {existing!r} else None
shim.revevu_fault_arm([i + 1 for i, c in enumerate(calls) if c == {call!r}][{nth}], {error_number}, 0)
try:
    protocol.save(target)
    outcome = None
except BaseException as error:
    outcome = repr(error)
finally:
    shim.revevu_fault_disarm()
print(json.dumps({{"outcome": outcome, "same": open(target, "rb").read() == undisturbed,
                  "in_place": os.stat(target).st_ino == inode, "left": os.listdir({folder!r}),
                  "attributes": os.listxattr(target)}}))
"""

# (existing target, with an extended attribute; failing call, which of its
# calls, error; written in place)
CASES = {
    "new file's creation refused": (True, "openat", 2, errno.EACCES, True),
    "new file's creation not permitted": (True, "openat", 2, errno.EPERM, True),
    "new file's mode refused": (True, "fchmod", 0, errno.EACCES, True),
    "rename refused": (True, "renameat", 0, errno.EACCES, True),
    "rename not permitted": (True, "renameat", 0, errno.EPERM, True),
    "directory unreadable": (True, "openat", -1, errno.EACCES, False),
    "directory flush invalid": (True, "fsync", -1, errno.EINVAL, False),
    "directory flush unsupported": (False, "fsync", -1, errno.EOPNOTSUPP, False),
    "directory flush not implemented": (False, "fsync", -1, errno.ENOSYS, False),
    "unnamed file taken for a directory": (False, "openat", 1, errno.EISDIR, False),
    "unnamed file invalid": (False, "openat", 1, errno.EINVAL, False),
    "target created meanwhile": (False, "linkat", 0, errno.EEXIST, False),
    "temporary name taken": (True, "linkat", 0, errno.EEXIST, False),
    # Without /proc the unnamed file is linked from its descriptor (or, with
    # no privilege for that, given up for a named one).
    "no /proc for a new target": (False, "linkat", 0, errno.ENOENT, False),
    "no /proc for a replacement": (True, "linkat", 0, errno.ENOENT, False),
    "attribute not readable": (True, "fgetxattr", 0, errno.EACCES, True),
    "attributes unsupported": (True, "flistxattr", 0, errno.EOPNOTSUPP, False),
    "attribute removed meanwhile": (True, "fgetxattr", 0, errno.ENODATA, False),
    "attribute grown meanwhile": (True, "fgetxattr", 1, errno.ERANGE, False),
    "no ACL to remove": (True, "fremovexattr", 0, errno.ENODATA, False),
    "ACLs unsupported": (True, "fremovexattr", 0, errno.EOPNOTSUPP, False),
}

# What the new file carries: the old file's attribute, unless it was not to be
# had (not listed, or gone when it was read); a new file has none.
LOST = {"attributes unsupported", "attribute removed meanwhile"}


@pytest.mark.parametrize("case", CASES)
def test_save_succeeds_through_a_refusal_or_a_file_system_limit(case, fault_shim, tmp_path):
    existing, call, nth, error_number, in_place = CASES[case]
    try:
        os.setxattr(tmp_path, "user.note", b"probe")
    except OSError:
        pytest.skip("no user extended attributes on this file system")
    code = CHILD.format(shim=fault_shim, folder=str(tmp_path), existing=existing, call=call, nth=nth,
                        error_number=error_number)
    result = run_python(code, extra_preload=fault_shim)
    attributes = ["user.note"] if existing and case not in LOST else []
    assert result == {"outcome": None, "same": True, "in_place": in_place, "left": ["t.vesk"],
                      "attributes": attributes}
