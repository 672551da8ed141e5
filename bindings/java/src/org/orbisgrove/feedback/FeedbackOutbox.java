package org.orbisgrove.feedback;

import java.lang.ref.Reference;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Objects;

/**
 * The durable way to submit a report: stored on the device first (in {@link Settings#setDataDirectory}), then
 * delivered one at a time while the process runs, never lost and never sent twice by the kit's own doing. Every
 * method is thread-safe and throws nothing but {@link NullPointerException} for a {@code null} it does not take;
 * failures come back as {@link FeedbackError} values.
 */
public final class FeedbackOutbox {
  private static final FeedbackOutbox SHARED = new FeedbackOutbox();

  private FeedbackOutbox() {}

  /** @return the process-wide outbox; never {@code null} */
  public static FeedbackOutbox shared() {
    Native.load();
    return SHARED;
  }

  /**
   * Builds the request body from {@code options} on the calling thread and commits it to the store before
   * returning; then starts delivery. Blocks for the durable commit (a disk sync): on an app's main thread use
   * {@link #enqueueAsync} instead.
   *
   * @param options the report; not {@code null}
   * @return the new entry's id, or why nothing was stored; never {@code null}
   */
  public EnqueueResult enqueue(SaveUserDataOptions options) {
    Objects.requireNonNull(options, "options");
    try {
      return EnqueueResult.of(Native.enqueue(options.handle));
    } finally {
      Reference.reachabilityFence(options);
    }
  }

  /**
   * {@link #enqueue} without waiting for the disk, for an app's main thread: builds the body from {@code options} on
   * the calling thread and returns; the commit happens on the kit's store-writes thread, in call order, then
   * delivery starts. {@code callback} runs once on the callback executor: with the id once the report is durably
   * stored, or with the error when nothing was stored. Never an id for a report that is not stored. At exit, a
   * report taken before the process began to exit is committed within the kit's exit budget.
   *
   * @param options the report; not {@code null}
   * @param callback receives the id or the error; {@code null} for none
   */
  public void enqueueAsync(SaveUserDataOptions options, EnqueueCallback callback) {
    Objects.requireNonNull(options, "options");
    try {
      Native.enqueueAsync(options.handle, callback == null ? result -> {} : callback);
    } finally {
      Reference.reachabilityFence(options);
    }
  }

  /**
   * Every entry, in stored order, read on the calling thread.
   *
   * @param error when not {@code null} and of length one or more, receives at index 0 why the store could not be
   *     read ({@code null} when it could)
   * @return the entries, unmodifiable; empty when the store cannot be read; never {@code null}
   */
  public List<OutboxEntry> entries(FeedbackError[] error) {
    Object[] failure = new Object[1];
    OutboxEntry[] entries = Native.entries(failure);
    if (error != null && error.length > 0) {
      error[0] = (FeedbackError) failure[0];
    }
    return Collections.unmodifiableList(Arrays.asList(entries));
  }

  /** @return {@link #entries(FeedbackError[])} without its error; never {@code null} */
  public List<OutboxEntry> entries() {
    return entries(null);
  }

  /**
   * The app's "the network is back": tries every queued entry now, except while a 429's reset time lies ahead.
   * Returns at once.
   *
   * @param done runs once on the callback executor when that pass is over; {@code null} for none
   */
  public void deliverNow(Runnable done) {
    Native.deliverNow(done);
  }

  /**
   * Tries the queued entry {@code id} now, its waiting time or not.
   *
   * @param id the entry's id; not {@code null}
   * @param done runs once on the callback executor when that attempt is over; {@code null} for none
   * @return {@code null}, or the error for an unknown id or a store that cannot be opened ({@code done} then never
   *     runs)
   */
  public FeedbackError deliver(String id, Runnable done) {
    return Native.deliver(Objects.requireNonNull(id, "id"), done);
  }

  /**
   * Queues an unconfirmed or rejected entry again: the app's choice to risk a second copy. Commits on the calling
   * thread.
   *
   * @param id the entry's id; not {@code null}
   * @param startDelivery whether an attempt starts at once
   * @return {@code null} on success; the error for an unknown id or a delivered or queued entry
   */
  public FeedbackError resend(String id, boolean startDelivery) {
    return Native.resend(Objects.requireNonNull(id, "id"), startDelivery);
  }

  /**
   * Drops an entry whose request is not under way. Commits on the calling thread.
   *
   * @param id the entry's id; not {@code null}
   * @return {@code null} on success; the error for an unknown id or one being sent
   */
  public FeedbackError discard(String id) {
    return Native.discard(Objects.requireNonNull(id, "id"));
  }

  /**
   * Sets the listener told of each entry the outbox's delivery changed (not of the app's own enqueue, resend or
   * discard), on the callback executor.
   *
   * @param listener the new listener; {@code null} removes it (changes already posted still reach the old one)
   */
  public void setChangeListener(OutboxChangeListener listener) {
    Native.setChangeListener(listener);
  }
}
