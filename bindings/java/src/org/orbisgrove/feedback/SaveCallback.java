package org.orbisgrove.feedback;

/** Receives the outcome of {@link SaveUserDataAPIManager#saveUserData}. */
@FunctionalInterface
public interface SaveCallback {
  /**
   * Called exactly once, on the callback executor.
   *
   * @param record the record the service created; {@code null} when the reply had none, or on failure
   * @param error why the submission failed; {@code null} on success
   */
  void onResult(UserDataInfo record, FeedbackError error);
}
