"""winamp.ini as the plugin finds and leaves it."""

SERVICE_COOKIE = "remixsid=5f2e8a91c04b"  # the cookie the service stand-in accepts by default


def ini(enabled=True, no_login=True, cookie=SERVICE_COOKIE, status_mask=None, proxy=None,
        extra="", show_errors=None, auth_login=None, auth_pass=None, min_interval=0):
    """winamp.ini as bytes. Texts are stored the way the plugin stores them: UTF-8
    bytes, line breaks as "{NextString}". A value of None leaves its key out; `extra`
    is appended to the plugin's section as it is. MinInterval is 0 unless given (None
    leaves the key out: the plugin's 5 s), so a test sees every change published at
    once."""
    def text(value):
        return value.replace("\r\n", "{NextString}").encode("utf-8")

    out = b"[Winamp]\r\n"
    if proxy is not None:
        out += b"proxy=" + proxy.encode("latin-1") + b"\r\n"
    out += b"[Gen_Nimbo]\r\n"
    out += b"Enabled=%d\r\n" % int(enabled)
    if show_errors is not None:
        out += b"ShowErrors=%d\r\n" % int(show_errors)
    out += b"NoLogin=%d\r\n" % int(no_login)
    for key, value in (("AuthLogin", auth_login), ("AuthPass", auth_pass), ("Cookie", cookie),
                       ("StatusMask", status_mask)):
        if value is not None:
            out += key.encode("ascii") + b"=" + text(value) + b"\r\n"
    if min_interval is not None:
        out += b"MinInterval=%d\r\n" % min_interval
    return out + extra.encode("latin-1")


def ini_values(data, section):
    """The keys of one section of an ini file's bytes (values as bytes)."""
    values, current = {}, None
    for line in data.replace(b"\r\n", b"\n").split(b"\n"):
        line = line.strip()
        if line.startswith(b"[") and line.endswith(b"]"):
            current = line[1:-1].decode("latin-1").lower()
        elif current == section.lower() and b"=" in line:
            key, _, value = line.partition(b"=")
            values[key.decode("latin-1")] = value
    return values
