package org.orbisgrove.feedback;

import java.util.Objects;
import java.util.concurrent.Executor;

/**
 * The kit's entry object for report categories: at once from the copy kept on the device while it is younger than
 * 8 days, otherwise fresh from the service (and then kept). Also where the host sets the executor every callback of
 * the binding runs on.
 */
public final class FeedbackKit {
  private static final FeedbackKit SHARED = new FeedbackKit();

  private FeedbackKit() {}

  /** @return the process-wide instance (it loads the JNI library); never {@code null} */
  public static FeedbackKit shared() {
    Native.load();
    return SHARED;
  }

  /**
   * Sets, once, the executor every callback of the binding runs on (categories, submissions, the outbox). On
   * Android the main thread's executor. Until it is set, callbacks run on one daemon thread the binding owns.
   *
   * @param executor runs each callback once; not {@code null}
   * @throws IllegalStateException when an executor is already set
   */
  public static void setCallbackExecutor(Executor executor) {
    Objects.requireNonNull(executor, "executor");
    Native.load();
    Native.setExecutor(executor);
  }

  /**
   * Asks for the categories. A usable cached list reaches {@code callback} on the calling thread before this
   * returns; otherwise the service is asked and {@code callback} runs exactly once, later, on the callback
   * executor. Cannot be cancelled. Reads the cache file on the calling thread.
   *
   * @param callback receives the list or the error; not {@code null}
   */
  public void getReportCategories(CategoriesCallback callback) {
    Native.getReportCategories(Objects.requireNonNull(callback, "callback"));
  }
}
