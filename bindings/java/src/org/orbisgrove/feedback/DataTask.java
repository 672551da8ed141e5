package org.orbisgrove.feedback;

import java.lang.ref.Reference;

/** A running or finished submission; {@link #cancel()} ends it, and its callback still runs exactly once. */
public final class DataTask {
  /** Where a task is in its life. */
  public enum State {
    /** Created, not yet started. */
    SUSPENDED,
    /** The transfer is under way. */
    RUNNING,
    /** {@link #cancel()} was called; the callback has not run yet. */
    CANCELING,
    /** The transfer has ended; its callback runs or has run. */
    COMPLETED
  }

  private final long handle;

  DataTask(long handle) {
    this.handle = handle;
    Native.CLEANER.register(this, () -> Native.releaseTask(handle));
  }

  /**
   * Ends the transfer unless it has completed: the callback then runs once with the cancelled error (code -999 of
   * {@link FeedbackError#URL_ERROR_DOMAIN}). Does nothing once the task has completed. Any thread.
   */
  public void cancel() {
    try {
      Native.cancelTask(handle);
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @return the task's current state, which may change right after; never {@code null} */
  public State state() {
    try {
      return State.values()[Native.taskState(handle)];
    } finally {
      Reference.reachabilityFence(this);
    }
  }

  /** @return the task's identifier, unique within the process */
  public long identifier() {
    try {
      return Native.taskIdentifier(handle);
    } finally {
      Reference.reachabilityFence(this);
    }
  }
}
