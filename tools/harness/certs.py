"""Certificates for the TLS tests, made at test time with openssl in a temporary
folder: test certificate authorities and server certificates signed by them, valid
now or already expired. Nothing here touches any certificate store."""

import datetime
import os
import shutil
import subprocess
import tempfile

_CA_CONFIG = """[ca]
default_ca = test_ca
[test_ca]
database = index.txt
serial = serial.txt
new_certs_dir = .
default_md = sha256
policy = any
unique_subject = no
email_in_dn = no
[any]
commonName = supplied
"""


def _stamp(days):
    moment = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(days=days)
    return moment.strftime("%Y%m%d%H%M%SZ")


class TestPki:
    """with TestPki() as pki: ca = pki.ca("trusted"); cert, key = pki.server(ca, ["localhost"])"""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="nimbo-pki-")
        self._count = 0

    def _openssl(self, *args):
        subprocess.run(["openssl", *args], cwd=self.folder, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)

    def _path(self, name):
        return os.path.join(self.folder, name)

    def ca(self, name):
        """A self-signed authority; returns its name (its PEM is ca_pem(name))."""
        self._openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
                      "-keyout", name + ".key", "-out", name + ".pem", "-days", "3",
                      "-subj", "/CN=Nimbo test CA " + name,
                      "-addext", "basicConstraints=critical,CA:TRUE",
                      "-addext", "keyUsage=critical,keyCertSign,cRLSign")
        with open(self._path(name + ".cnf"), "w") as f:
            f.write(_CA_CONFIG)
        open(self._path(name + ".index"), "w").close()
        with open(self._path("serial.txt"), "w") as f:
            f.write("01\n")
        return name

    def ca_pem(self, ca):
        return self._path(ca + ".pem")

    def server(self, ca, hosts, expired=False):
        """A server certificate for `hosts` signed by `ca`; returns (cert PEM, key PEM)."""
        self._count += 1
        name = "server%d" % self._count
        self._openssl("req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", name + ".key",
                      "-out", name + ".csr", "-subj", "/CN=" + hosts[0])
        with open(self._path(name + ".ext"), "w") as f:
            f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n"
                    "extendedKeyUsage=serverAuth\nsubjectAltName=%s\n"
                    % ",".join("DNS:" + h for h in hosts))
        start, end = (-30, -2) if expired else (-1, 2)
        # openssl ca keeps its database in index.txt beside its config.
        shutil.copyfile(self._path(ca + ".index"), self._path("index.txt"))
        self._openssl("ca", "-batch", "-config", ca + ".cnf", "-cert", ca + ".pem",
                      "-keyfile", ca + ".key", "-in", name + ".csr", "-out", name + ".pem",
                      "-startdate", _stamp(start), "-enddate", _stamp(end),
                      "-extfile", name + ".ext", "-notext")
        shutil.copyfile(self._path("index.txt"), self._path(ca + ".index"))
        return self._path(name + ".pem"), self._path(name + ".key")

    def close(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
