"""Which process the bridge belongs to, under Wine: corvel started the way
Python's subprocess, .NET's Process and Java's ProcessBuilder start a child
(plain CreateProcess with pipes, no job object), by tests/hosts/pipe_host.cpp.

The host is corvel's nearest ancestor of the host's name: the bridge ends when
that process ends, whatever other processes of the name run. When no ancestor
has the name (a launcher of another name started corvel), any process of the
name keeps the bridge alive.

A killed host cannot report its child's exit code, so a watcher
(`pipe_host watch NAME`) holds corvel's process and reports its exit code and
exit time. corvel runs as a copy under a name of this suite's own, so that the
watcher finds it and no other suite's corvel in the shared prefix.

Environment (set by ctest): as for winebed, and CORVEL_PIPE_HOST, the built
pipe_host.
"""

import contextlib
import ctypes
import os
import select
import shutil
import signal
import tempfile
import threading
import unittest
import uuid

import winebed
from bridgebed import PipeHost, Watcher, linux_pid, settle

# How long a bridge that the rule keeps alive is watched after its host died:
# three of the name rule's looks.
KEEPS_RUNNING_S = 1.5


class HostAncestryFixture(unittest.TestCase):
    """A device, and a folder with corvel and pipe_host under this test's own
    names: HOST for the host's name, LAUNCHER for a starter of another name."""

    def setUp(self):
        self.port = winebed.PtyPort().__enter__()
        self.addCleanup(self.port.__exit__, None, None, None)
        self.folder = tempfile.mkdtemp(prefix="corvel-ancestry-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.name_programs()

    def name_programs(self):
        """Copies corvel and pipe_host under names no other process has."""
        tag = uuid.uuid4().hex[:8]
        self.corvel = self.copy(winebed.program(), f"corvel-{tag}.exe")
        self.host_name = f"apphost-{tag}.exe"
        self.host_exe = self.copy(os.environ["CORVEL_PIPE_HOST"], self.host_name)
        self.launcher_exe = self.copy(os.environ["CORVEL_PIPE_HOST"], f"launcher-{tag}.exe")
        self.watcher_exe = self.copy(os.environ["CORVEL_PIPE_HOST"], f"watcher-{tag}.exe")

    def kill_leftover_corvel(self):
        """A bridge that failed to end would take the device's bytes from the
        cases after it."""
        pid = linux_pid(os.path.basename(self.corvel))
        if pid is not None:
            os.kill(pid, signal.SIGKILL)

    def copy(self, source, name):
        target = os.path.join(self.folder, name)
        shutil.copyfile(source, target)
        return target

    def idle_host(self):
        """A process of the host's name that stays up until killed."""
        host = winebed.HostProcess(self.host_name).__enter__()
        self.addCleanup(host.__exit__, None, None, None)
        return host

    def start_bridge(self, starter_exe, via_cmd=False):
        starter = PipeHost(starter_exe, self.corvel, ["open", self.host_name, str(self.port.number)],
                           via_cmd)
        self.addCleanup(starter.close)
        settle(starter, self.port)
        return starter

    def watch_corvel(self):
        watcher = Watcher(self.watcher_exe, os.path.basename(self.corvel))
        self.addCleanup(watcher.close)
        return watcher

    def assert_relays(self, starter, what):
        """Bytes pass both ways between the starter's pipes and the device."""
        starter.send(b"to the device\n")
        self.assertEqual(self.port.read_exactly(14), b"to the device\n", what)
        before = starter.stdout.count
        self.port.write(b"from the device\n")
        starter.stdout.wait_for(before + 16)
        self.assertEqual(bytes(starter.stdout.data[before:]), b"from the device\n", what)


class TheHostIsTheNearestAncestorOfItsName(HostAncestryFixture):
    # (what, through "cmd.exe /c", host is corvel's starter, another process
    #  of the host's name runs, bridge ends when the host is killed)
    CASES = [
        ("host starts corvel", False, True, False, True),
        ("host starts corvel, another of its name runs", False, True, True, True),
        ("host starts corvel through cmd", True, True, False, True),
        ("host starts corvel through cmd, another of its name runs", True, True, True, True),
        ("launcher starts corvel beside the host", False, False, False, True),
        ("launcher starts corvel beside the host, another of its name runs",
         False, False, True, False),
        ("launcher starts corvel through cmd beside the host", True, False, False, True),
        ("launcher starts corvel through cmd beside the host, another of its name runs",
         True, False, True, False),
    ]

    def test_the_bridge_ends_with_its_host_or_as_the_name_rule_says(self):
        for what, via_cmd, host_starts, other_runs, ends in self.CASES:
            with self.subTest(what):
                try:
                    self.one_case(what, via_cmd, host_starts, other_runs, ends)
                finally:
                    self.kill_leftover_corvel()

    def one_case(self, what, via_cmd, host_starts, other_runs, ends):
        self.name_programs()  # nothing left of an earlier case counts
        other = self.idle_host() if other_runs else None
        beside = None if host_starts else self.idle_host()
        starter = self.start_bridge(self.host_exe if host_starts else self.launcher_exe, via_cmd)
        watcher = self.watch_corvel()
        self.assert_relays(starter, what)
        (starter if host_starts else beside).kill()
        if not ends:
            self.assertIsNone(watcher.ended(timeout=KEEPS_RUNNING_S),
                              "ended while another process of the host's name ran")
            self.assert_relays(starter, what + ", after the host was killed")
            other.kill()
        ended = watcher.ended(timeout=10)
        self.assertIsNotNone(ended, "still running once its host had ended")
        self.assertEqual(ended[0], 0, "exit code")
        starter.kill()
        self.assertEqual(starter.process.stderr.read(), b"", "corvel wrote to stderr")


class SlaveOpens:
    """Learns from inotify when the pty's slave end, the COM port the bridges
    open, is opened."""

    IN_OPEN = 0x20

    def __init__(self, port):
        libc = ctypes.CDLL(None, use_errno=True)
        self.fd = libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0 or libc.inotify_add_watch(self.fd, os.ttyname(port.slave).encode(),
                                                 self.IN_OPEN) < 0:
            raise OSError(ctypes.get_errno(), "inotify on the pty")

    def forget(self):
        """Drops the opens seen so far."""
        with contextlib.suppress(BlockingIOError):
            while os.read(self.fd, 4096):
                pass

    def wait(self, timeout):
        ready, _, _ = select.select([self.fd], [], [], timeout)
        return bool(ready)

    def close(self):
        os.close(self.fd)


class GoneAtTheNextOpen(threading.Thread):
    """Looks, the moment the port is next opened, whether the Linux process
    `pid` has ended by then. verdict: True (ended), False (still running),
    None (no open within 30 s)."""

    def __init__(self, opens, pid):
        super().__init__(daemon=True)
        self.opens = opens
        self.pidfd = os.pidfd_open(pid)
        self.verdict = None
        self.start()

    def run(self):
        try:
            if self.opens.wait(30):
                ended, _, _ = select.select([self.pidfd], [], [], 0)
                self.verdict = bool(ended)
        finally:
            os.close(self.pidfd)


class ARestartedHostGetsAFreePort(HostAncestryFixture):
    ROUNDS = 20

    def test_each_old_bridge_ends_before_the_new_one_opens_the_port(self):
        # With another process of the host's name running throughout, the
        # name rule would keep every old bridge alive. Under Wine a second
        # open of the port succeeds, so the new bridge working proves nothing:
        # when the new corvel opens the port, the old one's process must have
        # ended (on Windows, an old bridge still there makes the open fail).
        opens = SlaveOpens(self.port)
        self.addCleanup(opens.close)
        self.idle_host()
        host = self.start_bridge(self.host_exe)
        for round_number in range(1, self.ROUNDS + 1):
            pid = linux_pid(os.path.basename(self.corvel))
            self.assertIsNotNone(pid, f"round {round_number}: no corvel process")
            old = self.watch_corvel()
            opens.forget()
            check = GoneAtTheNextOpen(opens, pid)
            host.kill()
            host = self.start_bridge(self.host_exe)
            check.join(30)
            self.assertIs(check.verdict, True, f"round {round_number}: the old corvel still ran"
                          " when the new one opened the port" if check.verdict is False
                          else f"round {round_number}: no open of the port seen")
            ended = old.ended(timeout=10)
            self.assertIsNotNone(ended, f"round {round_number}: the old bridge still runs")
            self.assertEqual(ended[0], 0, f"round {round_number}: exit code")
            self.assert_relays(host, f"round {round_number}")
            old.close()

if __name__ == "__main__":
    unittest.main()
