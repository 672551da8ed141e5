package org.orbisgrove.feedback;

/** Receives what {@link FeedbackOutbox#enqueueAsync} came to. */
@FunctionalInterface
public interface EnqueueCallback {
  /**
   * Called exactly once, on the callback executor.
   *
   * @param result the stored entry's id, or why nothing was stored; never {@code null}
   */
  void onResult(EnqueueResult result);
}
