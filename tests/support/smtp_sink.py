"""A real SMTP server for tests, on 127.0.0.1 at a port of the system's choosing.

Usage: smtp_sink.py OUTDIR [--security none|starttls|tls] [--login USER:PASSWORD]
                           [--mechanisms PLAIN,LOGIN] [--host LOOPBACK-ADDRESS]
Prints the port on the first line of standard output. Each accepted message N is written as
OUTDIR/message-N.eml (the raw content, exactly as received) after OUTDIR/message-N.envelope
(HELO or EHLO argument, sender and recipients, one per line). Ends when standard input closes.

With --security starttls or tls the server makes a throw-away certificate for 127.0.0.1 and
localhost, writes it to OUTDIR/server.pem (a client's extra trusted file) and offers STARTTLS,
or speaks TLS from the first byte. With --login it offers AUTH (over plain text too when
security is none) and writes every attempt to OUTDIR/auth.log as "MECHANISM USER PASSWORD".
"""
import argparse
import asyncio
import datetime
import ipaddress
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Sink:
    def __init__(self, outdir):
        self.outdir = outdir
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.outdir, "message-%d" % self.count)
        with open(base + ".envelope", "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write("%s %s\n" % ("EHLO" if session.extended_smtp else "HELO", session.host_name))
            f.write("MAIL FROM %s\n" % envelope.mail_from)
            for rcpt in envelope.rcpt_tos:
                f.write("RCPT TO %s\n" % rcpt)
        with open(base + ".tmp", "wb") as f:
            f.write(envelope.original_content)
        os.rename(base + ".tmp", base + ".eml")
        return "250 Message accepted for delivery"


def make_certificate(outdir):
    """A self-signed certificate for 127.0.0.1 and localhost, valid for a day."""
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.x509.oid import NameOID

    key = ec.generate_private_key(ec.SECP256R1())
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "pulsewick test server")])
    now = datetime.datetime.now(datetime.timezone.utc)
    cert = (
        x509.CertificateBuilder()
        .subject_name(name)
        .issuer_name(name)
        .public_key(key.public_key())
        .serial_number(x509.random_serial_number())
        .not_valid_before(now - datetime.timedelta(minutes=5))
        .not_valid_after(now + datetime.timedelta(days=1))
        .add_extension(
            x509.SubjectAlternativeName(
                [x509.DNSName("localhost"), x509.IPAddress(ipaddress.ip_address("127.0.0.1"))]
            ),
            critical=False,
        )
        .sign(key, hashes.SHA256())
    )
    cert_path = os.path.join(outdir, "server.pem")
    key_path = os.path.join(outdir, "server.key")
    with open(key_path, "wb") as f:
        f.write(
            key.private_bytes(
                serialization.Encoding.PEM,
                serialization.PrivateFormat.PKCS8,
                serialization.NoEncryption(),
            )
        )
    with open(cert_path + ".tmp", "wb") as f:
        f.write(cert.public_bytes(serialization.Encoding.PEM))
    os.rename(cert_path + ".tmp", cert_path)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert_path, key_path)
    return context


def make_authenticator(outdir, user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        if not isinstance(auth_data, LoginPassword):
            return AuthResult(success=False, handled=False)
        login = auth_data.login.decode("utf-8", "surrogateescape")
        given = auth_data.password.decode("utf-8", "surrogateescape")
        with open(os.path.join(outdir, "auth.log"), "a", encoding="utf-8", errors="surrogateescape") as f:
            f.write("%s %s %s\n" % (mechanism, login, given))
        return AuthResult(success=(login == user and given == password), handled=False)

    return authenticate


async def main(args):
    loop = asyncio.get_running_loop()
    sink = Sink(args.outdir)
    context = make_certificate(args.outdir) if args.security != "none" else None
    options = {"hostname": "sink.invalid"}  # the server must not look up the machine's own name
    if args.login:
        user, _, password = args.login.partition(":")
        options["authenticator"] = make_authenticator(args.outdir, user, password)
        # Over implicit TLS the server cannot tell that the line is encrypted; with security
        # none it offers AUTH in the clear so that a test can see whether a client sends it.
        options["auth_require_tls"] = args.security == "starttls"
        all_mechanisms = {"PLAIN", "LOGIN"}
        options["auth_exclude_mechanism"] = sorted(all_mechanisms - set(args.mechanisms.split(",")))
    if args.security == "starttls":
        options["tls_context"] = context
    server = await loop.create_server(
        lambda: SMTP(sink, **options),
        args.host,
        0,
        ssl=context if args.security == "tls" else None,
    )
    print(server.sockets[0].getsockname()[1], flush=True)

    done = loop.create_future()

    def on_stdin():
        if not os.read(sys.stdin.fileno(), 4096) and not done.done():
            done.set_result(None)

    loop.add_reader(sys.stdin.fileno(), on_stdin)
    await done
    server.close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("outdir")
    parser.add_argument("--security", choices=["none", "starttls", "tls"], default="none")
    parser.add_argument("--login", default="")
    parser.add_argument("--mechanisms", default="PLAIN,LOGIN")
    parser.add_argument("--host", default="127.0.0.1")  # the certificate names 127.0.0.1 whatever this is
    asyncio.run(main(parser.parse_args()))
