"""A real SMTP server for tests, on 127.0.0.1 at a port of the system's choosing.

Usage: smtp_sink.py OUTDIR
Prints the port on the first line of standard output. Each accepted message N is written as
OUTDIR/message-N.eml (the raw content, exactly as received) after OUTDIR/message-N.envelope
(HELO argument, sender and recipients, one per line). Ends when standard input closes.
"""
import asyncio
import os
import sys

from aiosmtpd.smtp import SMTP


class Sink:
    def __init__(self, outdir):
        self.outdir = outdir
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.outdir, "message-%d" % self.count)
        with open(base + ".envelope", "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write("HELO %s\n" % session.host_name)
            f.write("MAIL FROM %s\n" % envelope.mail_from)
            for rcpt in envelope.rcpt_tos:
                f.write("RCPT TO %s\n" % rcpt)
        with open(base + ".tmp", "wb") as f:
            f.write(envelope.original_content)
        os.rename(base + ".tmp", base + ".eml")
        return "250 Message accepted for delivery"


async def main(outdir):
    loop = asyncio.get_running_loop()
    sink = Sink(outdir)
    # A fixed host name: the server must not look up the machine's own name.
    server = await loop.create_server(lambda: SMTP(sink, hostname="sink.invalid"), "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)

    done = loop.create_future()

    def on_stdin():
        if not os.read(sys.stdin.fileno(), 4096) and not done.done():
            done.set_result(None)

    loop.add_reader(sys.stdin.fileno(), on_stdin)
    await done
    server.close()


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1]))
