#!/usr/bin/python3
"""SMTP sink for the mail tests (needs Debian's python3-aiosmtpd: run with /usr/bin/python3).

  smtpsink.py --dir FOLDER [--reject-rcpt]

Prints "PORT <n>" once it listens. Every message received is stored in FOLDER, numbered from 1,
before the server answers the end of its data:
  <n>.envelope   "MAIL FROM:<addr>" and one "RCPT TO:<addr>" line per recipient
  <n>.eml        the message as received
  <n>.headers    Subject, From name, From address, the To addresses, Date (parsed back), multipart
  <n>.body       the decoded text of the first text/plain part
  <n>.attach     per attachment "<file name> <content type> <size>", its bytes in <n>.file-<name>
With --reject-rcpt every recipient is refused with 550.
"""
import asyncio
import email
import email.policy
import email.utils
import os
import sys

from aiosmtpd.smtp import SMTP


class Sink:
    def __init__(self, folder, reject):
        self.folder = folder
        self.reject = reject
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.reject:
            return "550 5.1.1 Mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        raw = envelope.original_content or envelope.content
        with open(base + ".eml", "wb") as f:
            f.write(raw)
        with open(base + ".envelope", "w") as f:
            f.write("MAIL FROM:<%s>\n" % envelope.mail_from)
            for rcpt in envelope.rcpt_tos:
                f.write("RCPT TO:<%s>\n" % rcpt)
        msg = email.message_from_bytes(raw, policy=email.policy.compat32)
        name, addr = email.utils.parseaddr(msg.get("From", ""))
        tos = [a for _, a in email.utils.getaddresses(msg.get_all("To", []))]
        date = email.utils.parsedate_tz(msg.get("Date", ""))
        with open(base + ".headers", "w") as f:
            f.write("Subject: %s\n" % msg.get("Subject", ""))
            f.write("From-Name: %s\n" % name)
            f.write("From-Address: %s\n" % addr)
            f.write("To: %s\n" % ", ".join(tos))
            f.write("Date-Parsed: %s\n" % ("yes" if date else "no"))
            f.write("Multipart: %s\n" % ("yes" if msg.is_multipart() else "no"))
        body = b""
        attachments = []
        for part in msg.walk():
            if part.is_multipart():
                continue
            filename = part.get_filename()
            data = part.get_payload(decode=True) or b""
            if filename:
                attachments.append((filename, part.get_content_type(), data))
            elif part.get_content_type() == "text/plain" and not body:
                body = data
        with open(base + ".body", "wb") as f:
            f.write(body)
        with open(base + ".attach", "w") as f:
            for filename, ctype, data in attachments:
                f.write("%s %s %d\n" % (filename, ctype, len(data)))
                with open(base + ".file-" + os.path.basename(filename), "wb") as g:
                    g.write(data)
        return "250 Message accepted"


async def serve(folder, reject):
    loop = asyncio.get_running_loop()
    sink = Sink(folder, reject)
    server = await loop.create_server(lambda: SMTP(sink, hostname="sink.tavrin.invalid"), "127.0.0.1", 0)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


def main():
    args = sys.argv[1:]
    folder = args[args.index("--dir") + 1]
    try:
        asyncio.run(serve(folder, "--reject-rcpt" in args))
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
