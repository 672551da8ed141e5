package org.orbisgrove.feedback;

import java.time.Instant;

/** One stored report as it stood when it was read (a snapshot). */
public final class OutboxEntry {
  /** Where a stored report stands. */
  public enum State {
    /** Waiting for an attempt; also while its request is under way. */
    QUEUED,
    /** The service answered 201; {@link #record()} holds what it created. */
    DELIVERED,
    /** It may have reached the service but no verdict came back; never sent again on its own. */
    UNCONFIRMED,
    /** The service refused it; never sent again. */
    REJECTED
  }

  private final String id;
  private final State state;
  private final long attempts;
  private final Instant createdAt;
  private final Instant nextAttemptAt;
  private final FeedbackError lastError;
  private final UserDataInfo record;
  private final boolean sending;

  OutboxEntry(String id, String state, long attempts, long createdAtMicros, long nextAttemptAtMicros,
      boolean hasNextAttempt, FeedbackError lastError, long record, boolean sending) {
    this.id = id;
    this.state = State.valueOf(state.toUpperCase(java.util.Locale.ROOT));
    this.attempts = attempts;
    this.createdAt = instant(createdAtMicros);
    this.nextAttemptAt = hasNextAttempt ? instant(nextAttemptAtMicros) : null;
    this.lastError = lastError;
    this.record = record == 0 ? null : new UserDataInfo(record);
    this.sending = sending;
  }

  private static Instant instant(long micros) {
    return Instant.ofEpochSecond(Math.floorDiv(micros, 1_000_000L), Math.floorMod(micros, 1_000_000L) * 1000L);
  }

  /** @return the outbox's id for it; never {@code null} */
  public String id() {
    return id;
  }

  /** @return where it stands; never {@code null} */
  public State state() {
    return state;
  }

  /** @return requests that went out for it */
  public long attempts() {
    return attempts;
  }

  /** @return when it was stored; never {@code null} */
  public Instant createdAt() {
    return createdAt;
  }

  /** @return when a queued entry is tried next on its own; {@code null} when it waits for no time */
  public Instant nextAttemptAt() {
    return nextAttemptAt;
  }

  /** @return what the last attempt ended with; {@code null} after a success or before any */
  public FeedbackError lastError() {
    return lastError;
  }

  /** @return the created record of a delivered entry; {@code null} when there is none */
  public UserDataInfo record() {
    return record;
  }

  /** @return whether its request is under way right now */
  public boolean sending() {
    return sending;
  }
}
