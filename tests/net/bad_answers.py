"""Answers no HTTP server should give, and web pages where a file was asked for, written
byte for byte by testserver.py's /bad/KIND route (or /mod/NAME with the mode "bad
KIND"); each ends by closing the connection. KIND:
  no-status          "garbage garbage", a blank line, then bytes: no status line
  two-lengths        Content-Length 5 and Content-Length 500, then 500 bytes
  same-length-twice  Content-Length 5 twice, then 5 bytes
  length-list        one Content-Length "5, 500", then 5 bytes
  huge-length        Content-Length 99999999999999999999999 (past 64 bits), then 5 bytes
  http-1.0           a sound HTTP/1.0 answer with Content-Length 5, for comparison
  sign-in-page       200, text/html: a network's sign-in page (not starting with <html)
  page-as-file       200, application/octet-stream: a byte order mark, blank lines and
                     "<!DOCTYPE HTML>": a host's error page labelled as a binary
"""

BODY = b"bytes"
OK = b"HTTP/1.1 200 OK\r\n"
ANSWERS = {
    "no-status": b"garbage garbage\r\n\r\n" + BODY,
    "two-lengths": OK + b"Content-Length: 5\r\nContent-Length: 500\r\n\r\n" + BODY * 100,
    "same-length-twice": OK + b"Content-Length: 5\r\nContent-Length: 5\r\n\r\n" + BODY,
    "length-list": OK + b"Content-Length: 5, 500\r\n\r\n" + BODY,
    "huge-length": OK + b"Content-Length: 99999999999999999999999\r\n\r\n" + BODY,
    "http-1.0": b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
                b"Content-Length: 5\r\n\r\n" + BODY,
}


def _page(content_type, body):
    return (OK + b"Content-Type: %s\r\nContent-Length: %d\r\n\r\n" % (content_type, len(body))
            + body)


ANSWERS["sign-in-page"] = _page(b"Text/HTML; charset=UTF-8",
                                b"<head><title>Hotel Wi-Fi</title></head>\n<form>Sign in</form>\n")
ANSWERS["page-as-file"] = _page(b"application/octet-stream",
                                b"\xef\xbb\xbf \r\n\t<!DOCTYPE HTML>\n<p>File not found</p>\n")


def send(handler, kind, request):
    """Writes KIND's answer for HANDLER (a testserver Handler), recorded as REQUEST."""
    answer = ANSWERS.get(kind)
    if answer is None:
        return handler.reply(404, b"No such bad answer\n")
    handler.record = handler.owner._record(request)
    if handler.command != "HEAD":
        handler.wfile.write(answer)
        handler.record.sent = len(answer)
    handler.record.state = "complete"
    handler.close_connection = True
