#!/usr/bin/python3
"""A mail server on loopback for the tests (options: see main below).

The first line on standard output is the port it listens on. Each message
goes to DIR/NNN.eml (the bytes after dot-unstuffing) with its envelope in
DIR/NNN.json. --reject-data refuses a message with 554 after writing it down;
--copy-on-data copies SOURCE over TARGET before answering a message, as a hand
edit made while the client waits; --hold answers a command that many seconds
late, or never. Whenever it starts to hold back an answer it creates DIR/held.
It runs until it is killed or the process that started it ends.
"""

import argparse
import asyncio
import ctypes
import json
import logging
import os
import shutil
import signal
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

USER = b"alice"
PASSWORD = b"s3cret"
OUT = "."


def holding_back():
    open(os.path.join(OUT, "held"), "w").close()


class Sink:
    def __init__(self, args):
        self.args = args
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.args.reject_rcpt and address.lower() == self.args.reject_rcpt.lower():
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.args.out, "%03d" % self.count)
        auth = session.auth_data if session.authenticated and isinstance(session.auth_data, dict) else {}
        envelope_info = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "auth_user": auth.get("user"),
            "auth_mechanism": auth.get("mechanism"),
        }
        # The message first, its envelope last: a reader that sees the .json sees both.
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content)
        with open(base + ".json.tmp", "w", encoding="utf-8") as f:
            json.dump(envelope_info, f)
        os.replace(base + ".json.tmp", base + ".json")
        if self.args.copy_on_data:
            shutil.copyfile(*self.args.copy_on_data)
        if self.args.data_delay:
            holding_back()
            await asyncio.sleep(self.args.data_delay)
        if self.args.reject_data:
            return "554 5.6.0 Message content rejected"
        return "250 2.0.0 Message accepted"


def authenticator(server, session, envelope, mechanism, auth_data):
    if isinstance(auth_data, LoginPassword) and auth_data.login == USER and auth_data.password == PASSWORD:
        return AuthResult(success=True, auth_data={"user": USER.decode(), "mechanism": mechanism})
    return AuthResult(success=False, handled=False)


class Silent(asyncio.Protocol):
    """Takes the connection and never says a word."""

    def connection_made(self, transport):
        self.transport = transport
        holding_back()


def holding(holds):
    """An SMTP server that answers each held command late, or never."""
    methods = {}
    for hold in holds:
        command, _, delay = hold.upper().partition("=")
        answer = getattr(SMTP, "smtp_" + command)

        async def held(self, arg, answer=answer, delay=float(delay) if delay else None):
            if delay is None:
                holding_back()
                await asyncio.sleep(3600)
            else:
                await asyncio.sleep(delay)
                await answer(self, arg)

        methods["smtp_" + command] = held
    return type("Holding", (SMTP,), methods)


def tls_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--out", required=True)
    parser.add_argument("--auth", action="store_true")
    parser.add_argument("--auth-mechanisms", default="PLAIN,LOGIN")
    parser.add_argument("--reject-rcpt")
    parser.add_argument("--reject-data", action="store_true")
    parser.add_argument("--silent", action="store_true")
    parser.add_argument("--starttls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    parser.add_argument("--copy-on-data", nargs=2, metavar=("SOURCE", "TARGET"))
    parser.add_argument("--data-delay", type=float, default=0.0)
    parser.add_argument("--hold", action="append", default=[])
    args = parser.parse_args()

    # Ends with the test that started it, also one that dies without stopping it (PR_SET_PDEATHSIG).
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)
    # AUTH without TLS is what the tests want; the library's warnings about it are noise.
    warnings.simplefilter("ignore")
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)

    os.makedirs(args.out, exist_ok=True)
    global OUT
    OUT = args.out
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    sink = Sink(args)

    if args.silent:
        factory = Silent
    else:
        options = {"hostname": "sink.test", "timeout": 30}
        if args.auth:
            offered = {m.strip().upper() for m in args.auth_mechanisms.split(",") if m.strip()}
            options.update(
                auth_required=True,
                auth_require_tls=False,
                authenticator=authenticator,
                auth_exclude_mechanism=[m for m in ("PLAIN", "LOGIN") if m not in offered],
            )
        if args.starttls:
            options.update(tls_context=tls_context(*args.starttls), require_starttls=True)

        server_class = holding(args.hold)

        def factory():
            return server_class(sink, loop=loop, **options)

    server_ssl = tls_context(*args.tls) if args.tls else None
    server = loop.run_until_complete(loop.create_server(factory, host="127.0.0.1", port=args.port, ssl=server_ssl))
    port = server.sockets[0].getsockname()[1]
    sys.stdout.write("%d\n" % port)
    sys.stdout.flush()
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    main()
