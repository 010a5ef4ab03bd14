"""Faults while saving: a full file system, the file-size limit, a read-only
directory or target for an unprivileged user, a file shared by a group and a
directory's default ACL, symbolic links, FIFOs and devices as targets, every
file-system call of a save failing in turn, and a save killed at random points.

After each fault the failure is reported, an existing target holds its old
bytes (or, written in place, the bytes written before the failure), no
temporary file is left, the protocol is unchanged and usable, and the next
save to a good path succeeds.
"""

from __future__ import annotations

import contextlib
import errno
import os
import pathlib
import random
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time

import numpy as np
import pytest

import revevu
import reliability_helpers as rh
from conftest import FULL_DEVICE, NULL_DEVICE, own_char_device
from reliability_helpers import UNWRAP, check_save, os_error_message, run_python, scripted_protocol

OLD = b"an older protocol file\n"
FAULTS = {"injected": 0}


@pytest.fixture(scope="module", autouse=True)
def report_fault_figures():
    yield
    rh.report_figures("save-faults", faults=FAULTS["injected"])


def injected(problems, count=1):
    FAULTS["injected"] += count
    assert problems == []


@pytest.fixture
def work(tmp_path):
    """A protocol with every kind of signal, its model, a target directory and a good one."""
    protocol, model = scripted_protocol(revevu, np)
    good = tmp_path / "good"
    good.mkdir()
    target_dir = tmp_path / "target"
    target_dir.mkdir()
    return protocol, model, str(target_dir), str(good)


def write(path, data=OLD):
    with open(path, "wb") as f:
        f.write(data)


# ---------------------------------------------------------------------------
# No space left.


@contextlib.contextmanager
def small_tmpfs(size="64k"):
    mount_point = tempfile.mkdtemp(prefix="revevu-tmpfs-")
    done = subprocess.run(
        ["mount", "-t", "tmpfs", "-o", f"size={size},mode=0755", "tmpfs", mount_point], capture_output=True, text=True
    )
    if done.returncode != 0:
        os.rmdir(mount_point)
        pytest.skip(f"cannot mount a small tmpfs here: {done.stderr.strip() or done.returncode}")
    try:
        yield mount_point
    finally:
        subprocess.run(["umount", mount_point], check=False)
        os.rmdir(mount_point)


@pytest.mark.parametrize("existing", [True, False], ids=["existing-target", "new-target"])
def test_no_space_left_on_a_small_tmpfs(work, existing):
    _, _, _, good = work
    protocol, model = scripted_protocol(revevu, np, duration=10.0)  # about 130 kB, twice the file system
    assert len(model.file_bytes()) > 128 * 1024
    with small_tmpfs() as mount_point:
        target = os.path.join(mount_point, "run.vesk")
        if existing:
            write(target)
        expected = os_error_message(errno.ENOSPC, "StorageFull")
        injected(check_save(protocol, model, target, expected, old_content=OLD if existing else None, good_dir=good))
        # The space is free again: nothing of the failed attempt is held.
        usage = shutil.disk_usage(mount_point)
        assert usage.used <= 16 * 1024, usage


@contextlib.contextmanager
def device_target(directory, name, minor):
    """A character device node of the test's own; it must still be one after the save."""
    path = own_char_device(os.path.join(directory, name), minor)
    yield path
    assert stat.S_ISCHR(os.lstat(path).st_mode), f"save replaced the device {path}"


def test_no_space_left_on_a_full_device(work):
    protocol, model, target_dir, good = work
    with device_target(target_dir, "full.vesk", FULL_DEVICE) as target:
        expected = os_error_message(errno.ENOSPC, "StorageFull")
        injected(check_save(protocol, model, target, expected, old_content=None, good_dir=good))


def test_null_device_is_written_in_place(work):
    protocol, model, target_dir, good = work
    with device_target(target_dir, "null.vesk", NULL_DEVICE) as target:
        before = sorted(os.listdir(target_dir))
        injected(check_save(protocol, model, target, None, old_content=None, good_dir=good))
        assert sorted(os.listdir(target_dir)) == before


# ---------------------------------------------------------------------------
# The file-size limit, in a child process: the limit is per process.

FILE_SIZE_LIMIT_CHILD = """
import json, os, resource, numpy as np, revevu
from reliability_helpers import check_save, os_error_message, scripted_protocol
target_dir, good = {target_dir!r}, {good!r}
protocol, model = scripted_protocol(revevu, np, duration=1.0)
problems = []
for existing in (True, False):
    target = os.path.join(target_dir, "limited.vesk")
    if existing:
        with open(target, "wb") as f:
            f.write({old!r})
    elif os.path.exists(target):
        os.remove(target)
    soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
    resource.setrlimit(resource.RLIMIT_FSIZE, (4096, hard))
    problems += check_save(protocol, model, target, os_error_message(27, "FileTooLarge"),
                           old_content={old!r} if existing else None, good_dir=None)
    resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
    problems += check_save(protocol, model, os.path.join(good, "unlimited.vesk"), None, old_content=None, good_dir=good)
print(json.dumps({{"problems": problems, "size": len(model.file_bytes())}}))
"""


def test_file_size_limit(work):
    _, _, target_dir, good = work
    result = run_python(FILE_SIZE_LIMIT_CHILD.format(target_dir=target_dir, good=good, old=OLD))
    assert result["size"] > 4096
    injected(result["problems"], count=2)


# ---------------------------------------------------------------------------
# Permissions, checked as an unprivileged user (root may write anywhere).

UNPRIVILEGED_CHILD = """
import json, os, numpy as np, revevu
from reliability_helpers import become, check_save, os_error_message, scripted_protocol
protocol, model = scripted_protocol(revevu, np)
if {ids!r}:
    become(*{ids!r})
denied = os_error_message(13, "PermissionDenied")
problems = []
for target, old, may_write in {cases!r}:
    expected = {{denied, None}} if may_write else denied
    problems += check_save(protocol, model, target, expected, old_content=old, good_dir={good!r})
print(json.dumps({{"problems": problems}}))
"""


def test_read_only_directory_and_unwritable_targets(unprivileged_ids):
    own = unprivileged_ids or (os.geteuid(), os.getegid())
    scratch = tempfile.mkdtemp(prefix="revevu-perm-")  # reachable from / by the child's made-up user
    good, read_only_dir, writable_dir = (os.path.join(scratch, n) for n in ("good", "read-only", "writable"))
    # (target, owner, mode, old content or None, whether a save may write it in place)
    cases = [
        (os.path.join(read_only_dir, "new.vesk"), None, None, None, False),
        (os.path.join(read_only_dir, "locked.vesk"), own, 0o444, OLD, False),
        (os.path.join(writable_dir, "locked.vesk"), own, 0o444, OLD, False),
        # Its own writable file in a read-only directory: refused, or written whole in place.
        (os.path.join(read_only_dir, "open.vesk"), own, 0o644, OLD, True),
    ]
    if unprivileged_ids:  # another user's file, in a directory the child may write
        cases.append((os.path.join(writable_dir, "theirs.vesk"), (rh.BOB, rh.BOB), 0o644, OLD, False))
    try:
        os.chmod(scratch, 0o755)
        for d in (good, read_only_dir, writable_dir):
            os.mkdir(d)
            os.chown(d, *own)
        for target, owner, mode, old, _ in cases:
            if old is not None:
                write(target, old)
                os.chown(target, *owner)
                os.chmod(target, mode)
        os.chmod(read_only_dir, 0o555)
        child_cases = [(target, old, may_write) for target, _, _, old, may_write in cases]
        result = run_python(UNPRIVILEGED_CHILD.format(ids=unprivileged_ids, cases=child_cases, good=good))
        injected(result["problems"], count=len(cases))
        if unprivileged_ids:
            assert os.stat(cases[-1][0]).st_uid == rh.BOB, "another user's file changed hands"
    finally:
        os.chmod(read_only_dir, 0o755)
        shutil.rmtree(scratch)


# ---------------------------------------------------------------------------
# A file shared by a group: two users of it save over each other's file.

@pytest.mark.parametrize("mode", [0o664, 0o660, 0o2664], ids=oct)
def test_group_shared_file_keeps_owner_group_and_mode(tmp_path, unprivileged_ids, mode):
    """Bob saves over Alice's file in their group's directory, then Alice
    saves again: the file stays hers, in the group, with its mode."""
    if unprivileged_ids is None:
        pytest.skip("two made-up users need root to start from")
    lab = tmp_path / "lab"
    lab.mkdir()
    os.chown(lab, 0, rh.LAB)
    os.chmod(lab, 0o775)  # the group may write it; no set-group-id bit
    target = lab / "run.vesk"
    write(target)
    os.chown(target, rh.ALICE, rh.LAB)
    os.chmod(target, mode)
    reference = tmp_path / "reference.vesk"
    report = []
    for name, user, value in (("bob", rh.BOB, 0.25), ("alice", rh.ALICE, 0.5)):
        inode = os.stat(target).st_ino
        result = rh.save_as((user, user), lab, "run.vesk", groups=[rh.LAB], value=value)
        expected = revevu.Protocol()
        expected.add_constant_signal(value)
        expected.save(str(reference))
        assert result["error"] is None, f"{name}'s save failed: {result['error']}"
        assert (tuple(result["owner"]), result["mode"]) == ((rh.ALICE, rh.LAB), mode), f"after {name}'s save"
        assert target.read_bytes() == reference.read_bytes(), f"{name}'s save wrote other bytes"
        way = "in place" if result["inode"] == inode else "replaced"
        report.append(f"{name} saved: {result['owner'][0]}:{result['owner'][1]} {oct(result['mode'])} ({way})")
    assert sorted(os.listdir(lab)) == ["run.vesk"]
    print("; ".join(report))


ACCESS_ACL, DEFAULT_ACL = "system.posix_acl_access", "system.posix_acl_default"
USER_OBJ, USER, GROUP_OBJ, MASK, OTHER, NO_ID = 0x01, 0x02, 0x04, 0x10, 0x20, 0xFFFFFFFF


def acl(*entries) -> bytes:
    """A POSIX ACL as its extended attribute holds it: version 2, then each
    entry's tag, permissions and id, in the order of tag and id."""
    return struct.pack("<I", 2) + b"".join(struct.pack("<HHI", *entry) for entry in entries)


@pytest.mark.parametrize(
    "own_acl",
    [None, acl((USER_OBJ, 6, NO_ID), (USER, 4, rh.BOB), (GROUP_OBJ, 4, NO_ID), (MASK, 4, NO_ID), (OTHER, 0, NO_ID))],
    ids=["without-acl", "with-its-own-acl"],
)
def test_replaced_file_keeps_exactly_its_acl(work, own_acl):
    """The directory's default ACL would give a new file an ACL of its own."""
    protocol, model, target_dir, _ = work
    target = os.path.join(target_dir, "run.vesk")
    write(target)
    os.chmod(target, 0o640)
    default = acl((USER_OBJ, 7, NO_ID), (USER, 6, rh.ALICE), (GROUP_OBJ, 5, NO_ID), (MASK, 7, NO_ID), (OTHER, 5, NO_ID))
    try:
        if own_acl:
            os.setxattr(target, ACCESS_ACL, own_acl)
        os.setxattr(target_dir, DEFAULT_ACL, default)
    except OSError as error:
        pytest.skip(f"no ACLs here: {error}")
    mode = stat.S_IMODE(os.stat(target).st_mode)
    protocol.save(target)
    kept = os.getxattr(target, ACCESS_ACL) if ACCESS_ACL in os.listxattr(target) else None
    assert (kept, stat.S_IMODE(os.stat(target).st_mode)) == (own_acl, mode)
    with open(target, "rb") as f:
        assert f.read() == model.file_bytes()


# ---------------------------------------------------------------------------
# Symbolic links, FIFOs, names and permission bits.


@pytest.mark.parametrize("shape", ["same-directory", "other-directory", "chain", "dangling"])
def test_symbolic_link_target_keeps_the_link(work, shape):
    protocol, model, target_dir, good = work
    other = os.path.join(os.path.dirname(target_dir), "elsewhere")
    os.mkdir(other)
    pointee = os.path.join(other if shape == "other-directory" else target_dir, "real.vesk")
    if shape != "dangling":
        write(pointee)
    link = os.path.join(target_dir, "link.vesk")
    if shape == "chain":
        os.symlink("real.vesk", os.path.join(target_dir, "middle.vesk"))
        os.symlink("middle.vesk", link)
    else:
        os.symlink(os.path.relpath(pointee, target_dir), link)
    links = {n: os.readlink(os.path.join(target_dir, n)) for n in os.listdir(target_dir) if n != "real.vesk"}
    expected_listing = {d: set(os.listdir(d)) for d in (target_dir, other)}
    expected_listing[os.path.dirname(pointee)].add("real.vesk")
    protocol.save(link)
    assert {name: os.readlink(os.path.join(target_dir, name)) for name in links} == links, "a link was replaced"
    with open(pointee, "rb") as f:
        assert f.read() == model.file_bytes()
    assert {d: set(os.listdir(d)) for d in (target_dir, other)} == expected_listing, "stray files"
    # Once more, now over an existing file behind the link.
    injected(check_save(protocol, model, link, None, old_content=None, good_dir=good, watch=(other,)))
    assert os.path.islink(link)


def test_symbolic_link_loop(work):
    protocol, model, target_dir, good = work
    a, b = os.path.join(target_dir, "a.vesk"), os.path.join(target_dir, "b.vesk")
    os.symlink(b, a)
    os.symlink(a, b)
    expected = os_error_message(errno.ELOOP, "FilesystemLoop")
    injected(check_save(protocol, model, a, expected, old_content=None, good_dir=good, also_after_failure=()))
    assert os.readlink(a) == b and os.readlink(b) == a


def test_fifo_target_is_written_in_place(work):
    protocol, model, target_dir, good = work
    fifo = os.path.join(target_dir, "pipe.vesk")
    os.mkfifo(fifo)
    received = os.path.join(good, "received.bin")
    with open(received, "wb") as out:
        reader = subprocess.Popen(["cat", fifo], stdout=out)
        try:
            protocol.save(fifo)
        finally:
            try:
                reader.wait(timeout=10)
            except subprocess.TimeoutExpired:
                reader.kill()
                reader.wait()
                pytest.fail("the reader of the FIFO never saw its end: save did not write to it")
    assert stat.S_ISFIFO(os.lstat(fifo).st_mode), "the FIFO was replaced"
    assert os.listdir(target_dir) == ["pipe.vesk"]
    with open(received, "rb") as f:
        assert f.read() == model.file_bytes()
    injected([])


@pytest.mark.parametrize("length, expected", [(255, None), (256, os_error_message(errno.ENAMETOOLONG, "InvalidFilename"))])
def test_longest_file_name(work, length, expected):
    """A name as long as the file system allows is saved, whatever the temporary file's name."""
    protocol, model, target_dir, good = work
    target = os.path.join(target_dir, "n" * (length - 5) + ".vesk")
    injected(check_save(protocol, model, target, expected, old_content=None, good_dir=good))


@pytest.mark.parametrize("umask, mode", [(0o022, 0o644), (0o077, 0o600), (0o002, 0o664), (0, 0o666)])
def test_new_file_permissions_follow_the_umask(work, umask, mode):
    protocol, _, target_dir, _ = work
    target = os.path.join(target_dir, "new.vesk")
    old_umask = os.umask(umask)
    try:
        protocol.save(target)
    finally:
        os.umask(old_umask)
    assert stat.S_IMODE(os.stat(target).st_mode) == mode


@pytest.mark.parametrize("whose", ["another user's", "the saver's own"])
def test_replacing_a_file_keeps_its_permission_bits_and_owner(work, whose):
    """As writing in place did: the new file takes over the old one's mode,
    and its owner where this process may give files away."""
    protocol, model, target_dir, _ = work
    target = os.path.join(target_dir, "private.vesk")
    write(target)
    os.chmod(target, 0o640)
    if os.geteuid() != 0:
        owner = (os.geteuid(), os.getegid())
    else:  # the saver's own file keeps its owner while its group is given
        owner = (65534, 65534) if whose == "another user's" else (0, 65534)
    os.chown(target, *owner)
    protocol.save(target)
    status = os.stat(target)
    assert (stat.S_IMODE(status.st_mode), status.st_uid, status.st_gid) == (0o640, *owner)
    with open(target, "rb") as f:
        assert f.read() == model.file_bytes()


# ---------------------------------------------------------------------------
# Every file-system call of a save failing once, through a preloaded library.

# The calls of a save whose failure may pass unreported, and why. Every other
# injected failure must be reported; EINTR only where the call is retried.
TOLERATED = {
    "close(read-only)": "nothing was written through it: the directory's handles, the old file read for its attributes",
    "close after publication": "the new file was flushed before it took the target's name",
}
RETRIED_ON_EINTR = ("open", "__open", "write", "pwrite", "fsync", "fdatasync", "close")

INJECTION_CHILD = """
import contextlib, ctypes, errno, json, os, numpy as np, revevu
from reliability_helpers import UNWRAP, FrozenModel, check_save, os_error_message, scripted_protocol
shim = ctypes.CDLL({shim!r})
shim.revevu_fault_trace.restype = ctypes.c_char_p
target_dir, good, scenario, old = {target_dir!r}, {good!r}, {scenario!r}, {old!r}
target = os.path.join(target_dir, "run.vesk")
second_name = os.path.join(target_dir, "other.vesk")
# Every kind of signal, about 27 kB: many pieces when writes are cut short.
protocol, model = scripted_protocol(revevu, np, duration=2.0)
model = FrozenModel(model)
new = model.file_bytes()

# An extended attribute on the target brings the calls that copy it into play.
ATTRIBUTE = ("user.revevu-test", b"kept")
try:
    os.setxattr(target_dir, *ATTRIBUTE)
except OSError:
    ATTRIBUTE = None
shim.revevu_fault_refuse_tmpfile({refuse_tmpfile})

def fresh_target():
    for path in (target, second_name):
        with contextlib.suppress(FileNotFoundError):
            os.remove(path)
    if scenario == "new-target":
        return
    with open(target, "wb") as f:
        f.write(old)
    if ATTRIBUTE:
        os.setxattr(target, *ATTRIBUTE)
    if scenario == "in-place":
        os.link(target, second_name)  # a second name: written in place

@contextlib.contextmanager
def armed(arm, *arguments):
    arm(*arguments)
    try:
        yield
    finally:
        shim.revevu_fault_disarm()

class PrefixOf:
    # In place, a failed save leaves the bytes written before the failure.
    def __contains__(self, content):
        return isinstance(content, bytes) and new.startswith(content)

def after_failure(call_number):
    if scenario == "in-place":
        return PrefixOf()
    # Once the new file is in place, a failure of a later step cannot undo it.
    return (new,) if call_number > published_at else ()

outcomes = []

def checked_save(expected, also_after_failure, arm, *arguments):
    problems = check_save(protocol, model, target, expected, old_content=None if scenario == "new-target" else old,
                          good_dir=good, also_after_failure=also_after_failure, outcomes=outcomes,
                          around=lambda: armed(arm, *arguments))
    if ATTRIBUTE and scenario != "new-target" and ATTRIBUTE[0] not in os.listxattr(target):
        problems.append("the target lost its extended attribute")
    return problems

fresh_target()
shim.revevu_fault_arm(0, 0, 0)
protocol.save(target)
shim.revevu_fault_disarm()
calls = shim.revevu_fault_trace().decode().split(",")
publishing = ("renameat", "linkat") if scenario == "new-target" else ("renameat",)
published_at = min((i + 1 for i, c in enumerate(calls) if c.startswith(publishing)), default=len(calls) + 1)
first_write = min((i + 1 for i, c in enumerate(calls) if "write" in c), default=None)

def tolerated(call_number):
    call = calls[call_number - 1]
    return call == "close(read-only)" or (call == "close" and call_number > published_at)

def expected(call_number, error_number):
    if error_number == errno.EINTR and calls[call_number - 1].startswith({retried!r}):
        return None
    kinds = {{errno.EIO: "Uncategorized", errno.ENOSPC: "StorageFull", errno.EINTR: "Interrupted"}}
    message = os_error_message(error_number, kinds[error_number])
    return {{message, None}} if tolerated(call_number) else message

problems, tally = [], {{"injected": 0, "reported": 0, "retried": 0, "tolerated": 0, "in_place": 0}}
for error_number in (errno.EIO, errno.ENOSPC, errno.EINTR):
    for call_number in range(1, len(calls) + 1):
        fresh_target()
        wanted = expected(call_number, error_number)
        found = checked_save(wanted, after_failure(call_number), shim.revevu_fault_arm, call_number, error_number, 0)
        tally["injected"] += 1
        if outcomes[-1] is not None:
            tally["reported"] += 1
        else:
            tally["retried" if wanted is None else "tolerated"] += 1
        problems += [f"{{calls[call_number - 1]}} #{{call_number}} errno {{error_number}}: {{p}}" for p in found]
if first_write:
    fresh_target()
    write_zero = UNWRAP + 'Error {{ kind: WriteZero, message: "failed to write whole buffer" }}'
    found = checked_save(write_zero, after_failure(first_write), shim.revevu_fault_arm, first_write, 0, 1)
    problems += ["write returning 0: " + p for p in found]
    fresh_target()
    problems += ["short writes: " + p for p in checked_save(None, (), shim.revevu_fault_arm, 0, 0, 2)]
    tally["injected"] += 2
    tally["reported"] += outcomes[-2] is not None
    tally["retried"] += outcomes[-1] is None  # each short write is followed by the rest
# What the new file cannot be given (an attribute not permitted or not
# supported, an owner or group this process may not give) is kept by writing
# in place rather than dropped with the old file.
REFUSALS = {{"fgetxattr": (errno.EPERM, errno.EOPNOTSUPP), "fsetxattr": (errno.EPERM, errno.EOPNOTSUPP),
            "fremovexattr": (errno.EPERM,), "fchown": (errno.EPERM, errno.EINVAL)}}
for call, numbers in REFUSALS.items() if scenario in ("unnamed-file", "named-temporary-file") else ():
    for error_number in numbers if call in calls else ():
        fresh_target()
        inode = os.stat(target).st_ino
        found = checked_save(None, (), shim.revevu_fault_arm_named, call.encode(), error_number)
        if os.stat(target).st_ino != inode:
            found.append("replaced rather than written in place")
        problems += [f"{{call}} refused with errno {{error_number}}: {{p}}" for p in found]
        tally["injected"] += 1
        tally["in_place"] += outcomes[-1] is None and not found
print(json.dumps({{"calls": calls, "problems": problems, "attribute": bool(ATTRIBUTE), **tally}}))
"""


@pytest.mark.parametrize(
    "scenario, refuse_tmpfile",
    [("unnamed-file", 0), ("named-temporary-file", errno.EOPNOTSUPP), ("in-place", 0), ("new-target", 0)],
    ids=lambda v: v if isinstance(v, str) else None,
)
def test_every_file_call_of_save_failing_once(work, fault_shim, scenario, refuse_tmpfile):
    _, _, target_dir, good = work
    code = INJECTION_CHILD.format(shim=fault_shim, target_dir=target_dir, good=good, old=OLD, scenario=scenario,
                                  refuse_tmpfile=refuse_tmpfile, retried=RETRIED_ON_EINTR)
    result = run_python(code, extra_preload=fault_shim)
    calls = result["calls"]
    assert any("write" in c for c in calls), f"no write of save was seen: {calls}"
    assert "fsync" in calls and "close" in calls, f"the written file is not flushed and closed: {calls}"
    if result["attribute"] and scenario in ("unnamed-file", "named-temporary-file"):
        assert {"flistxattr", "fgetxattr", "fsetxattr"} <= set(calls), calls
    if scenario in ("unnamed-file", "new-target") and os.path.isdir("/proc/self/fd"):
        assert calls.count("linkat") == 1, f"the unnamed file was not linked through /proc: {calls}"
    FAULTS["injected"] += result["injected"]
    print(f"{scenario}: save's file calls {calls}; {result['injected']} faults injected: {result['reported']} reported,"
          f" {result['retried']} retried (EINTR, short writes), {result['tolerated']} tolerated"
          f" ({', '.join(TOLERATED)}), {result['in_place']} refusals written in place")
    assert result["problems"] == []


# An unnamed file that cannot be given a name (no /proc, no privilege to link
# from its descriptor) is given up for a named temporary file.
LINKS_REFUSED_CHILD = """
import ctypes, json, os, numpy as np, revevu
from reliability_helpers import check_save, scripted_protocol
shim = ctypes.CDLL({shim!r})
shim.revevu_fault_trace.restype = ctypes.c_char_p
protocol, model = scripted_protocol(revevu, np)
target = os.path.join({target_dir!r}, "run.vesk")
if {existing!r}:
    with open(target, "wb") as f:
        f.write({old!r})
shim.revevu_fault_refuse_links({error_number})
shim.revevu_fault_arm(0, 0, 0)
problems = check_save(protocol, model, target, None, old_content=None, good_dir={good!r})
shim.revevu_fault_disarm()
calls = shim.revevu_fault_trace().decode().split(",")
print(json.dumps({{"problems": problems, "calls": calls, "listing": os.listdir({target_dir!r})}}))
"""


@pytest.mark.parametrize("error_number", [errno.ENOENT, errno.EPERM], ids=errno.errorcode.get)
@pytest.mark.parametrize("existing", [False, True], ids=["new-target", "existing-target"])
def test_unnamed_file_that_cannot_be_linked_falls_back_to_a_named_one(work, fault_shim, error_number, existing):
    _, _, target_dir, good = work
    code = LINKS_REFUSED_CHILD.format(shim=fault_shim, target_dir=target_dir, good=good, old=OLD,
                                      existing=existing, error_number=error_number)
    result = run_python(code, extra_preload=fault_shim)
    assert result["problems"] == []
    assert "linkat" in result["calls"] and "renameat" in result["calls"], result["calls"]
    assert result["listing"] == ["run.vesk"]
    injected([])


# ---------------------------------------------------------------------------
# A save killed at random points of a large write.

KILLED_SAVER = """
import sys, time, numpy as np, revevu
target, references = sys.argv[1], sys.argv[2:]
protocols = []
for phase in (0.0, 0.25):
    p = revevu.Protocol()
    p.set_session_duration(1800.0)  # 9M samples: a 25 MB file
    p.add_arbitrary_signal(np.linspace(phase, 1.0 - phase, p.get_num_samples()))
    protocols.append(p)
for p, reference in zip(protocols, references):
    p.save(reference)
start = time.perf_counter()
protocols[0].save(target)
print(time.perf_counter() - start, flush=True)
while True:
    for p in protocols[::-1]:
        p.save(target)
"""


def test_killed_save_leaves_only_the_whole_target(tmp_path):
    """After each SIGKILL the target holds one protocol or the other, byte for
    byte, and its directory holds nothing else. The one exception allowed is
    the instant between naming the finished file and renaming it over the
    target, which leaves a whole copy under a temporary name: seen at most once."""
    target_dir = tmp_path / "target"
    target_dir.mkdir()
    target = target_dir / "run.vesk"
    references = [str(tmp_path / f"reference-{i}.vesk") for i in range(2)]
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(p for p in sys.path if p)}
    rng = random.Random(12)
    candidates, leftovers = (), 0
    for round_number in range(6):
        arguments = [str(target)] + (references if round_number == 0 else [])
        with subprocess.Popen([sys.executable, "-c", KILLED_SAVER, *arguments], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) as saver:
            try:
                line = saver.stdout.readline()
                assert line, saver.stderr.read()
                time.sleep(rng.uniform(0.0, 2.0 * float(line)))
            finally:
                saver.kill()
        if not candidates:
            candidates = tuple(pathlib.Path(r).read_bytes() for r in references)
            assert len(candidates[0]) > 20_000_000 and candidates[0] != candidates[1]
        for name in sorted(set(os.listdir(target_dir)) - {"run.vesk"}):
            stray = (target_dir / name).read_bytes()
            assert name.startswith(".vesk-") and stray in candidates, f"round {round_number}: {name} left behind"
            (target_dir / name).unlink()
            leftovers += 1
        assert target.read_bytes() in candidates, f"round {round_number}: the target is not whole"
    assert leftovers <= 1


def test_a_proc_link_to_a_long_path_is_followed(work):
    # A link to a descriptor in /proc, whose own link text (the file's path)
    # is longer than what its size says and the first buffer it is read into.
    protocol, _, target_dir, _ = work
    folder = os.path.join(target_dir, *["d" * 60] * 5)
    os.makedirs(folder)
    target = os.path.join(folder, "run.vesk")
    write(target)
    assert len(target) > 300
    fd = os.open(target, os.O_RDONLY)
    link = os.path.join(target_dir, "via.vesk")
    os.symlink(f"/proc/self/fd/{fd}", link)
    try:
        protocol.save(link)
    finally:
        os.close(fd)
    assert os.readlink(link) == f"/proc/self/fd/{fd}"
    protocol.save(os.path.join(target_dir, "plain.vesk"))
    with open(target, "rb") as saved_through_link, open(os.path.join(target_dir, "plain.vesk"), "rb") as plain:
        assert saved_through_link.read() == plain.read()
