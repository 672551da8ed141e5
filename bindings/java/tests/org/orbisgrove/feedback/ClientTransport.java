package org.orbisgrove.feedback;

import java.net.URI;
import java.net.http.HttpClient;
import java.net.http.HttpRequest;
import java.net.http.HttpResponse;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Queue;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import javax.net.ssl.SSLContext;

/**
 * A host transport on java.net.http.HttpClient, which never resends a POST on its own. Scripted outcomes go first,
 * one per submission: refuse the connection, answer 429, or hold the request unanswered.
 */
final class ClientTransport implements HttpTransport {
  enum Scripted { REFUSE, TOO_MANY_REQUESTS, HOLD }

  final Queue<Scripted> script = new ConcurrentLinkedQueue<>();
  final List<String> bodies = new CopyOnWriteArrayList<>();
  final List<Completion> held = new CopyOnWriteArrayList<>();
  volatile long lastReset;
  private final HttpClient client;
  // The service serves a few connections at a time, each for as long as it is kept alive.
  private final ExecutorService senders = Executors.newFixedThreadPool(3, task -> {
    Thread thread = new Thread(task, "test-transport");
    thread.setDaemon(true);
    return thread;
  });

  ClientTransport(SSLContext tls) {
    client = HttpClient.newBuilder().sslContext(tls).version(HttpClient.Version.HTTP_1_1).build();
  }

  @Override
  public void start(Request request, Completion completion) {
    bodies.add(new String(request.body(), java.nio.charset.StandardCharsets.UTF_8));
    Scripted next = request.allowsResend() ? null : script.poll();  // submissions only
    if (next == Scripted.REFUSE) {
      completion.failure(Completion.CANNOT_CONNECT_TO_HOST, false, "refused by the test's script");
      return;
    }
    if (next == Scripted.TOO_MANY_REQUESTS) {
      long reset = System.currentTimeMillis() / 1000 + 3;
      lastReset = reset;
      completion.reply(429, List.of(Map.entry("X-Rate-Limit-Limit", "1000"), Map.entry("X-Rate-Limit-Interval", "90"),
          Map.entry("X-Rate-Limit-Reset", Long.toString(reset))),
          "{\"response\":\"429\",\"data\":[{\"error\":[\"Too many requests.\"]}]}".getBytes(), 1);
      return;
    }
    if (next == Scripted.HOLD) {
      held.add(completion);
      return;
    }
    HttpRequest.Builder builder = HttpRequest.newBuilder(URI.create(request.url()))
        .timeout(Duration.ofMillis((long) (request.timeoutSeconds() * 1000)))
        .method(request.method(), HttpRequest.BodyPublishers.ofByteArray(request.body()));
    request.headers().forEach(builder::header);
    senders.execute(() -> {
      try {
        HttpResponse<byte[]> reply = client.send(builder.build(), HttpResponse.BodyHandlers.ofByteArray());
        List<Map.Entry<String, String>> fields = new ArrayList<>();
        reply.headers().map().forEach((name, values) -> values.forEach(value -> fields.add(Map.entry(name, value))));
        completion.reply(reply.statusCode(), fields, reply.body(), 1);
      } catch (Exception failure) {
        completion.failure(Completion.NETWORK_CONNECTION_LOST, true, failure.toString());
      }
    });
  }
}
