package org.orbisgrove.feedback;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertTrue;

import java.util.concurrent.CompletableFuture;
import org.junit.AfterClass;
import org.junit.BeforeClass;
import org.junit.Test;

/** The asynchronous enqueue, its commit held back at the kit's seam (the test build of the JNI library). */
public class JavaEnqueueAsyncTest {
  @BeforeClass
  public static void startService() throws Exception {
    JavaKitTest.startService();
  }

  @AfterClass
  public static void stopService() throws Exception {
    JavaKitTest.stopService();
  }

  @Test
  public void enqueueAsyncReturnsWhileItsCommitIsHeldAndAnswersOnTheExecutorOnceStored() throws Exception {
    SaveUserDataOptions report = JavaKitTest.report("Async");
    CompletableFuture<Object[]> answer = new CompletableFuture<>();
    TestSeams.holdQueuedCommits(true);
    FeedbackOutbox.shared().enqueueAsync(report,
        result -> answer.complete(new Object[] {Thread.currentThread().getName(), result}));
    assertTrue("the commit was never reached", TestSeams.awaitHeldCommit());
    int storedWhileHeld = FeedbackOutbox.shared().entries().size();
    assertFalse(answer.isDone());
    TestSeams.holdQueuedCommits(false);
    Object[] outcome = JavaKitTest.await(answer);
    assertEquals(JavaKitTest.EXECUTOR_THREAD, outcome[0]);
    EnqueueResult result = (EnqueueResult) outcome[1];
    assertNotNull(String.valueOf(result.error()), result.id());
    assertEquals(0, storedWhileHeld);
    assertEquals(result.id(), JavaKitTest.entry(result.id()).id());
  }
}
