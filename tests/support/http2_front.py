# HTTP/2 front of the tests' local HTTPS service: http2_front.py CERT KEY CA BACKEND-PORT.
# Prints its port on 127.0.0.1, speaks only h2 (other ALPN is dropped), forwards each request to the
# HTTP/1.1 service and sends its reply back with lower-case field names; a reply the service does not
# give resets the stream. Ends when its standard input closes.
import asyncio
import concurrent.futures
import http.client
import ssl
import sys

import h2.config
import h2.connection
import h2.events

CERT, KEY, CA, BACKEND = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
HOP_BY_HOP = {"connection", "keep-alive", "proxy-connection", "transfer-encoding", "upgrade"}


def forward(method, path, fields, body):
    backend = http.client.HTTPSConnection("127.0.0.1", BACKEND, context=ssl.create_default_context(cafile=CA))
    try:
        backend.request(method, path, body=body, headers=fields)
        reply = backend.getresponse()
        return reply.status, reply.getheaders(), reply.read()
    finally:
        backend.close()


async def serve(reader, writer):
    if writer.get_extra_info("ssl_object").selected_alpn_protocol() != "h2":
        return writer.close()
    conn = h2.connection.H2Connection(h2.config.H2Configuration(client_side=False, header_encoding="utf-8"))
    conn.initiate_connection()
    streams = {}

    async def answer(stream, fields, body):
        method, path = fields.pop(":method"), fields.pop(":path")
        fields["host"] = fields.pop(":authority", "127.0.0.1")
        fields = {k: v for k, v in fields.items() if not k.startswith(":")}
        try:
            status, head, data = await asyncio.get_running_loop().run_in_executor(
                None, forward, method, path, fields, body)
        except Exception:
            conn.reset_stream(stream)
            return writer.write(conn.data_to_send())
        head = [(":status", str(status))] + [(k.lower(), v) for k, v in head if k.lower() not in HOP_BY_HOP]
        conn.send_headers(stream, head, end_stream=not data)
        while data:  # a test's reply fits the client's first flow-control window
            size = min(len(data), conn.max_outbound_frame_size)
            conn.send_data(stream, data[:size], end_stream=size == len(data))
            data = data[size:]
        writer.write(conn.data_to_send())

    writer.write(conn.data_to_send())
    while data := await reader.read(65536):
        for event in conn.receive_data(data):
            if isinstance(event, h2.events.RequestReceived):
                streams[event.stream_id] = (dict(event.headers), bytearray())
            elif isinstance(event, h2.events.DataReceived):
                streams[event.stream_id][1].extend(event.data)
                conn.acknowledge_received_data(event.flow_controlled_length, event.stream_id)
            elif isinstance(event, h2.events.StreamEnded):
                fields, body = streams.pop(event.stream_id)
                asyncio.ensure_future(answer(event.stream_id, fields, bytes(body)))
        writer.write(conn.data_to_send())
    writer.close()


async def main():
    # Held (stalled) requests each keep a thread.
    asyncio.get_running_loop().set_default_executor(concurrent.futures.ThreadPoolExecutor(64))
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(CERT, KEY)
    context.set_alpn_protocols(["h2"])
    server = await asyncio.start_server(serve, "127.0.0.1", 0, ssl=context)
    print(server.sockets[0].getsockname()[1], flush=True)
    await asyncio.get_running_loop().run_in_executor(None, sys.stdin.buffer.read)


asyncio.run(main())
