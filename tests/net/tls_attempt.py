"""Shared by the plain-HTTP test servers: a client that tries https first
opens with a TLS handshake, which holds no request line; waiting for one
would hold the client until its time-out."""


def opens_with_tls(handler):
    """True when the connection opened with a TLS handshake, False for a
    plain request, None when the connection is already gone."""
    try:
        return handler.rfile.peek(1)[:1] == b"\x16"
    except OSError:
        return None
