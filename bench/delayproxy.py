#!/usr/bin/env python3
"""TCP proxy that adds a one-way delay to every chunk in both directions (a WAN stand-in where
the kernel has no netem). Order within a direction is kept. The benchmarks' copy of
../shared/tools/delayproxy.py, with the same delay, and a count of round trips on request.

Usage: delayproxy.py LISTEN_PORT TARGET_HOST TARGET_PORT ONE_WAY_MS [--idas-e-voltas FILE]

Prints the listening port (0 picks one) on its first line.

With --idas-e-voltas, each connection counts its round trips: the times the traffic turns from
server->client back to client->server, i.e. the client sends (or closes) after a chunk from the
server has been handed to it. The turn is taken at the client's side of the delay, so a request
that left before the client could have heard the answer is no turn, as on a real link. Over a
request-and-answer exchange this is the number of answers the client waited for: each wait ends
with the client's next request, the last one with its close or its last words. When a
connection ends, one line is appended to FILE:
  conexao N: idas-e-voltas K cliente BYTES servidor BYTES segundos S
and on SIGTERM or SIGINT the proxy stops accepting, gives open connections up to 2 s to end,
writes a line for those still open (ending in "aberta") and then the total:
  total: conexoes N idas-e-voltas K maior-conexao M
"""
import asyncio
import signal
import socket
import sys
import time

# Open connections get this long to end after a stop is asked, so the count of a run that just
# finished is complete.
PRAZO_AO_PARAR = 2.0


async def pump(reader, writer, delay, chegou=None, entregue=None):
    """Forwards reader to writer, each chunk `delay` seconds after it arrived. `chegou(data)` is
    called as a chunk arrives (b"" at the end), `entregue()` as one is handed to the writer."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def sender():
        while True:
            due, data = await queue.get()
            if data is None:
                break
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            if entregue:
                entregue()
            await writer.drain()
        try:
            writer.write_eof()
        except OSError:
            pass

    task = asyncio.create_task(sender())
    try:
        while True:
            data = await reader.read(1 << 16)
            if chegou:
                chegou(data)
            if not data:
                break
            queue.put_nowait((loop.time() + delay, data))
    except OSError:
        # A reset ends the direction like a close does.
        if chegou:
            chegou(b"")
    queue.put_nowait((loop.time() + delay, None))
    try:
        await task
    except OSError:
        pass


class Conexao:
    """One connection's round trips and bytes."""

    def __init__(self, numero):
        self.numero = numero
        self.inicio = time.monotonic()
        self.idas = 0
        self.do_cliente = 0
        self.do_servidor = 0
        self.ouviu = False  # something from the server reached the client since it last spoke
        self.cliente_terminou = False

    def do_cliente_chegou(self, data):
        if self.cliente_terminou:
            return
        if not data:
            self.cliente_terminou = True
        self.do_cliente += len(data)
        if self.ouviu:
            self.idas += 1
            self.ouviu = False

    def do_servidor_chegou(self, data):
        self.do_servidor += len(data)

    def entregue_ao_cliente(self):
        self.ouviu = True

    def linha(self, aberta=False):
        return (f"conexao {self.numero}: idas-e-voltas {self.idas} cliente {self.do_cliente} "
                f"servidor {self.do_servidor} segundos {time.monotonic() - self.inicio:.3f}"
                + (" aberta" if aberta else ""))


class Contagem:
    def __init__(self, arquivo):
        self.arquivo = arquivo
        self.abertas = {}  # task -> Conexao
        self.conexoes = 0
        self.idas = 0
        self.maior = 0

    def escrever(self, linha):
        with open(self.arquivo, "a", encoding="ascii") as f:
            f.write(linha + "\n")

    def somar(self, c):
        self.idas += c.idas
        self.maior = max(self.maior, c.idas)

    def nova(self):
        self.conexoes += 1
        c = Conexao(self.conexoes)
        self.abertas[asyncio.current_task()] = c
        return c

    def fechou(self, c):
        del self.abertas[asyncio.current_task()]
        self.somar(c)
        self.escrever(c.linha())

    async def encerrar(self):
        if self.abertas:
            await asyncio.wait(list(self.abertas), timeout=PRAZO_AO_PARAR)
        for c in list(self.abertas.values()):
            self.somar(c)
            self.escrever(c.linha(aberta=True))
        self.escrever(f"total: conexoes {self.conexoes} idas-e-voltas {self.idas} "
                      f"maior-conexao {self.maior}")


async def main():
    args = sys.argv[1:]
    arquivo = None
    if "--idas-e-voltas" in args:
        i = args.index("--idas-e-voltas")
        if i + 1 >= len(args):
            sys.exit("delayproxy: --idas-e-voltas needs a file")
        arquivo = args[i + 1]
        del args[i:i + 2]
    if len(args) != 4:
        sys.exit("usage: delayproxy.py LISTEN_PORT TARGET_HOST TARGET_PORT ONE_WAY_MS "
                 "[--idas-e-voltas FILE]")
    listen, host, port, ms = int(args[0]), args[1], int(args[2]), float(args[3])
    delay = ms / 1000.0
    contagem = Contagem(arquivo) if arquivo else None

    async def handle(cr, cw):
        try:
            sr, sw = await asyncio.open_connection(host, port)
        except OSError:
            cw.close()
            return
        for w in (cw, sw):
            sock = w.get_extra_info("socket")
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if contagem is None:
            await asyncio.gather(pump(cr, sw, delay), pump(sr, cw, delay))
        else:
            c = contagem.nova()
            try:
                await asyncio.gather(pump(cr, sw, delay, chegou=c.do_cliente_chegou),
                                     pump(sr, cw, delay, chegou=c.do_servidor_chegou,
                                          entregue=c.entregue_ao_cliente))
            except asyncio.CancelledError:
                # The proxy is stopping with this connection open; it was counted as open.
                for w in (cw, sw):
                    w.close()
                return
        for w in (cw, sw):
            w.close()
        if contagem is not None:
            contagem.fechou(c)

    server = await asyncio.start_server(handle, "127.0.0.1", listen)
    print(server.sockets[0].getsockname()[1], flush=True)
    if contagem is None:
        async with server:
            await server.serve_forever()
        return
    # Counting: a stop writes the total, after the connections of the run that just ended.
    parar = asyncio.Event()
    loop = asyncio.get_running_loop()
    for s in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(s, parar.set)
    await parar.wait()
    server.close()
    await contagem.encerrar()


if __name__ == "__main__":
    asyncio.run(main())
