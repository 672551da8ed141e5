package org.orbisgrove.feedback;

/** The kit's test seams, in the test build of the JNI library only. */
final class TestSeams {
  private TestSeams() {}

  /** Holds each asynchronous enqueue's commit back before it begins, until called with false. */
  static native void holdQueuedCommits(boolean hold);

  /** Whether a commit is held back now (waits up to 20 s for one). */
  static native boolean awaitHeldCommit();
}
