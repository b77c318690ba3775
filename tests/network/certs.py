"""Certificates for TLS tests, made fresh for each run with Debian's openssl and never kept."""

import subprocess
from pathlib import Path


def _openssl(*args, cwd):
    subprocess.run(["openssl"] + [str(a) for a in args], cwd=cwd, check=True, capture_output=True, timeout=60)


def authority(directory, name):
    """A self-signed certificate authority: (certificate, key) paths."""
    d = Path(directory)
    d.mkdir(parents=True, exist_ok=True)
    cert, key = d / (name + "-ca.pem"), d / (name + "-ca.key")
    _openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "2",
             "-subj", "/CN=" + name + " test authority", "-keyout", key, "-out", cert, cwd=d)
    return cert, key


def issue(ca, name, ip=None, days=2, stem=None):
    """A certificate for `name` (and `ip`, one address or a list, as subject alternative names) signed by `ca`,
    valid for `days` (-1: expired a day before it was made), in files named `stem` (default `name`):
    (certificate, key)."""
    ca_cert, ca_key = ca
    d = ca_cert.parent
    stem = stem or name
    cert, key, csr, ext = d / (stem + ".pem"), d / (stem + ".key"), d / (stem + ".csr"), d / (stem + ".ext")
    ips = [ip] if isinstance(ip, str) else list(ip or [])
    names = ["DNS:" + name] + ["IP:" + a for a in ips]
    ext.write_text("subjectAltName=%s\nbasicConstraints=CA:FALSE\n" % ",".join(names))
    _openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj", "/CN=" + name,
             "-keyout", key, "-out", csr, cwd=d)
    _openssl("x509", "-req", "-in", csr, "-CA", ca_cert, "-CAkey", ca_key, "-CAcreateserial", "-days", str(days),
             "-extfile", ext, "-out", cert, cwd=d)
    return cert, key
