package org.orbisgrove.feedback;

import java.lang.ref.Reference;
import java.util.Objects;

/**
 * Submits a report with one HTTPS POST and hands the record the service created to its callback. Keeps nothing
 * between calls; any number of submissions may run at once; a submission is never retried.
 */
public final class SaveUserDataAPIManager {
  private static final class Shared {
    static final SaveUserDataAPIManager INSTANCE = new SaveUserDataAPIManager();
  }

  private final long handle;

  private SaveUserDataAPIManager() {
    Native.load();
    this.handle = 0;
  }

  /**
   * A client of another service host.
   *
   * @param host a host name, IPv4 address or bracketed IPv6 address, with an optional ":port"; {@code null} for the
   *     default service host
   * @throws IllegalArgumentException for text from which no https URL can be formed
   */
  public SaveUserDataAPIManager(String host) {
    Native.load();
    long created = Native.newManager(host);
    this.handle = created;
    Native.CLEANER.register(this, () -> Native.releaseManager(created));
  }

  /** @return the process-wide client of the default service host (see {@link Settings#setServiceHost}); never {@code null} */
  public static SaveUserDataAPIManager shared() {
    return Shared.INSTANCE;
  }

  /** @return the base of every request, scheme and host (and port); never {@code null} */
  public String getApiEndpoint() {
    try {
      return Native.apiEndpoint(handle);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /**
   * Later requests use the new base; safe while requests run.
   *
   * @param url an absolute URL; not {@code null}
   * @throws IllegalArgumentException when it is not one
   */
  public void setApiEndpoint(String url) {
    try {
      Native.setApiEndpoint(handle, Objects.requireNonNull(url, "url"));
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /**
   * Submits {@code options}, read on the calling thread before this returns. {@code callback} runs exactly once, on
   * the callback executor, never before this returns.
   *
   * @param options the report; not {@code null}
   * @param callback receives the created record or the error; not {@code null}
   * @return the running task; never {@code null}
   */
  public DataTask saveUserData(SaveUserDataOptions options, SaveCallback callback) {
    Objects.requireNonNull(options, "options");
    Objects.requireNonNull(callback, "callback");
    try {
      return new DataTask(Native.saveUserData(handle, options.handle, callback));
    } finally {
      Reference.reachabilityFence(options);
      Reference.reachabilityFence(this);
    }
  }
}
