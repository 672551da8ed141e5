package org.orbisgrove.feedback;

import java.lang.ref.Cleaner;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Objects;

/**
 * An app's own HTTPS stack for every request of the kit (install it with {@link #install} before the first request).
 * Completions still reach callbacks exactly once, on the callback executor. The kit's own session settings
 * ({@link Settings#addTrustedCertificates}) do not reach it: the transport decides trust itself.
 */
public interface HttpTransport {
  /**
   * Starts {@code request} and returns soon, without waiting for it. Called on the kit's transport thread, one call
   * at a time. What it throws fails the request (unknown error, may have reached the server).
   *
   * @param request what to send; never {@code null}
   * @param completion takes the outcome once, from any thread; never {@code null}
   */
  void start(Request request, Completion completion);

  /**
   * Stops the request {@code identifier} names, which the kit has already ended itself (cancelled or timed out);
   * its completion is then ignored.
   *
   * @param identifier the request's {@link Request#identifier()}
   */
  default void cancel(long identifier) {}

  /** @return whether the transport calls {@link Request#sendStarting()} for every request it sends */
  default boolean reportsSendStart() {
    return false;
  }

  /**
   * Makes {@code transport} the one every later request of the kit goes through.
   *
   * @param transport the app's transport; not {@code null}
   * @return {@code null} on success; the error saying why not (too late: the kit's session is in use)
   */
  static FeedbackError install(HttpTransport transport) {
    Objects.requireNonNull(transport, "transport");
    Native.load();
    return Native.installTransport(transport, transport.reportsSendStart());
  }

  /** One request the kit asks the transport to make. */
  final class Request {
    private final long identifier;
    private final String method;
    private final String url;
    private final Map<String, String> headers;
    private final byte[] body;
    private final double timeoutSeconds;
    private final boolean allowsResend;
    private final long sendStarting;

    Request(long identifier, String method, String url, String[] headerPairs, byte[] body, double timeoutSeconds,
        boolean allowsResend, long sendStarting) {
      this.identifier = identifier;
      this.method = method;
      this.url = url;
      Map<String, String> fields = new LinkedHashMap<>();
      for (int i = 0; i + 1 < headerPairs.length; i += 2) {
        fields.put(headerPairs[i], headerPairs[i + 1]);
      }
      this.headers = Collections.unmodifiableMap(fields);
      this.body = body;
      this.timeoutSeconds = timeoutSeconds;
      this.allowsResend = allowsResend;
      this.sendStarting = sendStarting;
      if (sendStarting != 0) {
        Native.CLEANER.register(this, () -> Native.releaseSendStarting(sendStarting));
      }
    }

    /** @return unique within the process; {@link HttpTransport#cancel} names the request by it */
    public long identifier() {
      return identifier;
    }

    /** @return "GET", "POST", ...; never {@code null} */
    public String method() {
      return method;
    }

    /** @return the absolute https URL; never {@code null} */
    public String url() {
      return url;
    }

    /** @return exactly the header fields to send, unmodifiable; never {@code null} */
    public Map<String, String> headers() {
      return headers;
    }

    /** @return the body bytes, sent as they stand (a copy); never {@code null} */
    public byte[] body() {
      return body.clone();
    }

    /** @return seconds the whole request may take; the kit ends it itself after that */
    public double timeoutSeconds() {
      return timeoutSeconds;
    }

    /**
     * @return whether the transport may send the request again on its own (a retry on a new connection after a
     *     kept-alive one died). False for submissions: where a resend would be needed, fail the request with
     *     {@link Completion#NETWORK_CONNECTION_LOST}, may have reached the server, instead
     */
    public boolean allowsResend() {
      return allowsResend;
    }

    /**
     * For a transport that {@linkplain HttpTransport#reportsSendStart reports send starts}: call it once the
     * connection is ready, before the first byte is written. It may wait for a disk sync.
     *
     * @return whether to send; on false send nothing and fail the request, may have reached the server false
     */
    public boolean sendStarting() {
      if (sendStarting == 0) {
        return true;
      }
      try {
        return Native.sendStarting(sendStarting);
      } finally {
        java.lang.ref.Reference.reachabilityFence(this);
      }
    }
  }

  /** Takes the outcome of one request: the first call counts, later ones are ignored. */
  final class Completion {
    /** The URL-loading code of a cancelled request. */
    public static final long CANCELLED = -999;
    /** The URL-loading code of a request that ran out of time. */
    public static final long TIMED_OUT = -1001;
    /** The URL-loading code of a host that could not be found. */
    public static final long CANNOT_FIND_HOST = -1003;
    /** The URL-loading code of a connection that could not be made. */
    public static final long CANNOT_CONNECT_TO_HOST = -1004;
    /** The URL-loading code of a connection lost under way. */
    public static final long NETWORK_CONNECTION_LOST = -1005;
    /** The URL-loading code of a device that is offline. */
    public static final long NOT_CONNECTED_TO_INTERNET = -1009;
    /** The URL-loading code of a TLS handshake that failed. */
    public static final long SECURE_CONNECTION_FAILED = -1200;

    private final long handle;
    private final Cleaner.Cleanable release;
    private boolean done;

    Completion(long handle) {
      this.handle = handle;
      this.release = Native.CLEANER.register(this, () -> Native.releaseCompletion(handle));
    }

    /**
     * A reply that arrived whole.
     *
     * @param status the HTTP status code
     * @param headers the reply's fields as (name, value) pairs in the order they came, names as the server sent them
     *     over HTTP/1.x; not {@code null}
     * @param body the decoded body (Content-Encoding undone); {@code null} for none
     * @param httpMajorVersion 1 for HTTP/1.x; 2 or 3 when names came in lower case
     */
    public synchronized void reply(int status, List<Map.Entry<String, String>> headers, byte[] body,
        int httpMajorVersion) {
      if (done) {
        return;
      }
      done = true;
      String[] pairs = new String[headers.size() * 2];
      int i = 0;
      for (Map.Entry<String, String> field : headers) {
        pairs[i++] = field.getKey();
        pairs[i++] = field.getValue();
      }
      Native.completeReply(handle, status, pairs, body == null ? new byte[0] : body, httpMajorVersion);
      release.clean();
    }

    /**
     * A transfer that failed.
     *
     * @param code a code of the URL-loading domain (the constants above, among others)
     * @param mayHaveReachedServer false only when nothing of the request can have left the device
     * @param reason what failed, in words; {@code null} for none
     */
    public synchronized void failure(long code, boolean mayHaveReachedServer, String reason) {
      if (done) {
        return;
      }
      done = true;
      Native.completeFailure(handle, code, mayHaveReachedServer, reason == null ? "" : reason);
      release.clean();
    }
  }
}
