package org.orbisgrove.feedback;

/** Told of each outbox entry whose state the outbox's own delivery changed. */
@FunctionalInterface
public interface OutboxChangeListener {
  /**
   * Called on the callback executor once the store holds the new state.
   *
   * @param entry the entry as it stands now; never {@code null}
   */
  void onChange(OutboxEntry entry);
}
