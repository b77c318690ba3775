"""Links other than plain TCP are a matter of configuration: TLS to the router, checked against its authority."""

import json

import certs
from conftest import ROBOT_SIDE


def _router_config(tmp_path, server):
    cert, key = server
    path = tmp_path / "router-tls.json5"
    path.write_text(json.dumps({
        "mode": "router",
        "listen": {"endpoints": [ROBOT_SIDE, "tls/198.18.2.1:7448"]},
        "scouting": {"multicast": {"enabled": False}},
        "transport": {"link": {"tls": {"listen_certificate": str(cert), "listen_private_key": str(key)}}},
    }))
    return path


def _client_config(tmp_path, name, root_ca):
    path = tmp_path / (name + ".json5")
    path.write_text(json.dumps({
        "mode": "client",
        "connect": {"endpoints": ["tls/198.18.2.1:7448"], "timeout_ms": 3000},
        "scouting": {"multicast": {"enabled": False}},
        "transport": {"link": {"tls": {"root_ca_certificate": str(root_ca)}}},
    }))
    return path


def test_tls_to_the_router_and_only_with_its_authority(routed, tmp_path):
    plant = certs.authority(tmp_path / "pki", "plant")
    other = certs.authority(tmp_path / "pki", "other")
    routed.start_router(_router_config(tmp_path, certs.issue(plant, "router", ip="198.18.2.1")))

    probe = routed.probe("--check", ZENOH_CONFIG=_client_config(tmp_path, "trusting", plant[0]))
    assert probe.wait(60) == 0, probe.lines.lines
    assert probe.lines.json()[-1]["check"] == "ok"

    probe = routed.probe("--check", ZENOH_CONFIG=_client_config(tmp_path, "doubting", other[0]))
    assert probe.wait(60) == 3
    (failed,) = probe.lines.json()
    assert "Unable to connect to any of [Single(tls/198.18.2.1:7448)]" in failed["error"], failed
    assert "the TLS handshake failed" in failed["error"], failed
