"""Mail for the web inbox's tests, sent with smtplib. Usage: mail.py SMTP_PORT KIND [ARG]

welcome         text, HTML with a cid: picture, two attachments (see ATTACHMENTS)
hostile URL     markup and script in the subject, a file name and the HTML; remote loads point at URL
bulk N [FIRST]  N short messages, "Message FIRST" onwards, in one session
"""
import smtplib
import struct
import sys
import zlib
from email.message import EmailMessage

BINARY = bytes(range(256)) * 40
ATTACHMENTS = {"data.bin": BINARY, "notes.txt": "Grüße, crème brûlée\n".encode()}


def png(width, height, rgb):
    """A one-colour PNG: the test finds its colour on the screen."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b"")


def welcome():
    m = EmailMessage()
    m["From"], m["To"], m["Cc"] = "Shop Ünicode <shop@example.com>", "Bob <bob@example.com>", "carol@example.org"
    m["Subject"] = "Welcome to the café"
    m.set_content("Hello Bob, welcome!")
    m.add_alternative('<p id="greeting">Hello <b>Bob</b></p><img id="logo" src="cid:logo@example.com" '
                      'width="60" height="60" alt="logo">', subtype="html")
    m.get_payload()[1].add_related(png(60, 60, (255, 0, 0)), "image", "png", cid="<logo@example.com>")
    for name, data in ATTACHMENTS.items():
        m.add_attachment(data, maintype="application", subtype="octet-stream", filename=name)
    return [m]


def hostile(url):
    markup = '<img src=x onerror="top.pwned=1">'
    m = EmailMessage()
    m["From"], m["To"] = f'"{markup}" <evil@example.com>', "bob@example.com"
    m["Subject"] = f"Hostile {markup}<script>top.pwned=2</script>"
    m.set_content("see the HTML")
    m.add_alternative(f"""<!doctype html><html><head>
<meta http-equiv="refresh" content="0;url={url}/refresh">
<link rel="stylesheet" href="{url}/style.css"><script>top.pwned = 3; window.pwned = 3</script>
</head><body onload="window.pwned = 4">
<p id="hostile">Look</p><img src="{url}/picture.png" alt="remote">
<img src="x" onerror="window.pwned = 5" alt="broken">
<a id="js" href="javascript:window.pwned = 6">a script link</a> <a id="away" href="{url}/link">a link</a>
</body></html>""", subtype="html")
    m.add_attachment(b"x", maintype="text", subtype="html", filename=f"{markup}.html")
    return [m]


def bulk(count, first=1):
    for i in range(first, first + count):
        m = EmailMessage()
        m["From"], m["To"], m["Subject"] = f"Sender {i} <s{i}@example.com>", "bob@example.com", f"Message {i}"
        m.set_content(f"Body of message {i}" + (" needle" if i % 10 == 0 else ""))
        yield m


def main():
    port, kind, args = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
    messages = {"welcome": welcome, "hostile": hostile,
                "bulk": lambda n, first="1": bulk(int(n), int(first))}[kind](*args)
    with smtplib.SMTP("127.0.0.1", port, timeout=60) as smtp:
        for m in messages:
            smtp.send_message(m, from_addr="sender@example.com", to_addrs=["bob@example.com", "hidden@example.com"])


if __name__ == "__main__":
    main()
