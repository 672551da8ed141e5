package org.orbisgrove.feedback;

/**
 * What {@link FeedbackOutbox#enqueue} gives: the stored entry's id, or why nothing was stored.
 *
 * @param id the stored entry's id; {@code null} when nothing was stored
 * @param error why nothing was stored; {@code null} when it was
 */
public record EnqueueResult(String id, FeedbackError error) {
  static EnqueueResult of(Object idOrError) {
    return idOrError instanceof String id ? new EnqueueResult(id, null)
                                          : new EnqueueResult(null, (FeedbackError) idOrError);
  }
}
