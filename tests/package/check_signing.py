"""The release's signing step with a throwaway self-signed certificate made
here with openssl: the archive's executables carry Authenticode signatures
(SHA-256) that osslsigncode accepts, less their signature they are the bytes
built, they still pass the static checks and still answer under Wine exactly as
the unsigned ones; a tampered one fails verification, and a signature that does
not verify stops the release.

Needs the x64 build folder (which packs the archive), a Wine prefix
(WINEPREFIX, as the Wine tests have it) and CORVEL_EXE."""

import os
import pathlib
import subprocess
import sys
import tempfile
import unittest
import zipfile

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "wine"))
from test_signed import assert_answers_alike, certificate_table_size  # noqa: E402

BUILD = pathlib.Path(os.environ["CORVEL_X64_BUILD_DIR"])
X32_BUILD = pathlib.Path(os.environ["CORVEL_X32_BUILD_DIR"])
ARCHES = {"corvel_x64.exe": ("x64", BUILD), "corvel_x32.exe": ("x32", X32_BUILD)}


def make_certificate(folder, name, password=None):
    """A self-signed code-signing certificate: PEM certificate and key, and a
    PKCS#12 of both locked with `password` when one is given."""
    cert, key = folder / f"{name}.pem", folder / f"{name}.key"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", f"/CN=corvel test signer {name}", "-addext", "extendedKeyUsage=codeSigning",
                    "-keyout", str(key), "-out", str(cert)], check=True, capture_output=True)
    if password is None:
        return cert, key, None
    pkcs12 = folder / f"{name}.p12"
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", str(key), "-in", str(cert),
                    "-out", str(pkcs12), "-passout", f"pass:{password}"], check=True,
                   capture_output=True)
    return cert, key, pkcs12


def pack(folder, signing):
    """Runs cpack with the signing variables `signing`; returns (cpack's run,
    {member name: bytes} of the archive, or None when none was made)."""
    out = folder / "release"
    env = {k: v for k, v in os.environ.items() if not k.startswith("CORVEL_SIGN_")}
    env.update(signing)
    done = subprocess.run(["cpack", "-B", str(out)], cwd=BUILD, env=env, capture_output=True,
                          text=True)
    archives = list(out.glob("*.zip"))
    if not archives:
        return done, None
    with zipfile.ZipFile(archives[0]) as package:
        return done, {pathlib.PurePosixPath(n).name: package.read(n)
                      for n in package.namelist() if not n.endswith("/")}


def verify(path, roots):
    return subprocess.run(["osslsigncode", "verify", "-in", str(path), "-CAfile", str(roots)],
                          capture_output=True, text=True)


class SigningTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.folder = pathlib.Path(self.scratch.name)
        password_file = self.folder / "password"
        password_file.write_text("not-a-secret")
        self.cert, key, pkcs12 = make_certificate(self.folder, "vendor", "not-a-secret")
        self.credentials = {
            "PKCS#12 with a password": {"CORVEL_SIGN_PKCS12": str(pkcs12),
                                        "CORVEL_SIGN_PASSWORD_FILE": str(password_file)},
            "PEM certificate and key": {"CORVEL_SIGN_CERT": str(self.cert),
                                        "CORVEL_SIGN_KEY": str(key)},
        }

    def tearDown(self):
        self.scratch.cleanup()

    def signed_release(self, name):
        folder = self.folder / name.replace(" ", "_").replace("#", "")
        done, files = pack(folder, {**self.credentials[name], "CORVEL_SIGN_CAFILE": str(self.cert)})
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIsNotNone(files)
        for exe, data in files.items():
            (folder / exe).write_bytes(data)
        return folder, files

    def test_signed_archive_verifies_and_is_the_build_less_its_signature(self):
        for name in self.credentials:
            with self.subTest(name):
                folder, files = self.signed_release(name)
                sums = dict(reversed(line.split("  ")) for line in
                            files["SHA256SUMS"].decode().splitlines())
                for exe, (arch, build) in ARCHES.items():
                    signed = folder / exe
                    checked = verify(signed, self.cert)
                    self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
                    self.assertIn("Signature verification: ok", checked.stdout)
                    # The sums are those of the files shipped, signed.
                    digest = subprocess.run(["sha256sum", str(signed)], check=True,
                                            capture_output=True, text=True).stdout.split()[0]
                    self.assertEqual(sums[exe], digest)
                    # A vendor's download, less its signature, is the rebuild.
                    stripped = folder / f"unsigned-{exe}"
                    subprocess.run(["osslsigncode", "remove-signature", "-in", str(signed),
                                    "-out", str(stripped)], check=True, capture_output=True)
                    self.assertEqual(stripped.read_bytes(), (build / exe).read_bytes())
                    static = subprocess.run([sys.executable, str(HERE.parent / "static/check_pe.py"),
                                             arch, str(signed)], capture_output=True, text=True)
                    self.assertEqual(static.returncode, 0, static.stdout + static.stderr)

    def test_signed_executable_answers_as_the_unsigned_one(self):
        # corvel_x32.exe cannot run on this machine (it refuses 32-bit code):
        # the 32-bit guest runs the same check for it (test_signed.py).
        folder, _ = self.signed_release("PKCS#12 with a password")
        signed = folder / "corvel_x64.exe"
        self.assertGreater(certificate_table_size(signed.read_bytes()), 0)
        assert_answers_alike(self, str(signed), os.environ["CORVEL_EXE"])

    def test_one_changed_byte_fails_verification(self):
        folder, _ = self.signed_release("PEM certificate and key")
        for exe in ARCHES:
            with self.subTest(exe):
                tampered = bytearray((folder / exe).read_bytes())
                tampered[0x600] ^= 0x01   # inside the code section
                path = folder / f"tampered-{exe}"
                path.write_bytes(bytes(tampered))
                checked = verify(path, self.cert)
                self.assertNotEqual(checked.returncode, 0, checked.stdout)
                self.assertNotIn("Signature verification: ok", checked.stdout)

    def test_signature_that_does_not_verify_stops_the_release(self):
        # Signed with the vendor's certificate, checked against other roots.
        other, _, _ = make_certificate(self.folder, "stranger")
        done, files = pack(self.folder / "refused", {**self.credentials["PEM certificate and key"],
                                                     "CORVEL_SIGN_CAFILE": str(other)})
        self.assertNotEqual(done.returncode, 0)
        self.assertIsNone(files)
        self.assertIn("does not verify", done.stdout + done.stderr)

    def test_without_a_certificate_the_release_is_unsigned(self):
        done, files = pack(self.folder / "plain", {})
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        for exe, (_, build) in ARCHES.items():
            self.assertEqual(files[exe], (build / exe).read_bytes())


if __name__ == "__main__":
    unittest.main()
