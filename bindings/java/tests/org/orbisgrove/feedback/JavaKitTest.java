package org.orbisgrove.feedback;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertSame;
import static org.junit.Assert.assertTrue;

import java.nio.file.Files;
import java.time.Instant;
import java.time.ZoneOffset;
import java.time.format.DateTimeFormatter;
import java.time.format.FormatStyle;
import java.util.Locale;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicIntegerArray;
import java.util.function.BooleanSupplier;
import org.junit.AfterClass;
import org.junit.BeforeClass;
import org.junit.Test;

/** The binding against the reference service, through a Java transport, with callbacks on a host executor. */
public class JavaKitTest {
  static final String EXECUTOR_THREAD = "host-executor";
  static LocalService service;
  static ClientTransport transport;
  static final List<String> console = new CopyOnWriteArrayList<>();
  static final ExecutorService executor =
      Executors.newSingleThreadExecutor(task -> new Thread(task, EXECUTOR_THREAD));

  @BeforeClass
  public static void startService() throws Exception {
    assertNull(TextFormatter.of(Locale.GERMANY, ZoneOffset.UTC).install());
    service = new LocalService("--rate-limit", "1000000");
    transport = new ClientTransport(service.tls());
    assertNull(HttpTransport.install(transport));
    FeedbackKit.setCallbackExecutor(executor);
    Settings.setConsoleSink(console::add);
    Settings.setServiceHost(service.host);
    Settings.setDataDirectory(Files.createTempDirectory("outbox").toString());
    Settings.setTemporaryDirectory(Files.createTempDirectory("cache").toString());
  }

  @AfterClass
  public static void stopService() throws Exception {
    service.close();
    executor.shutdown();
  }

  static void await(BooleanSupplier condition) throws InterruptedException {
    for (int i = 0; i < 1000 && !condition.getAsBoolean(); i++) {
      Thread.sleep(20);
    }
    assertTrue("waited 20 s in vain", condition.getAsBoolean());
  }

  static <T> T await(CompletableFuture<T> future) throws Exception {
    return future.get(20, TimeUnit.SECONDS);
  }

  static List<ReportCategories> categories() throws Exception {
    CompletableFuture<List<ReportCategories>> list = new CompletableFuture<>();
    FeedbackKit.shared().getReportCategories((records, error) -> {
      if (records == null) list.completeExceptionally(new AssertionError("no categories: " + error));
      list.complete(records);
    });
    return await(list);
  }

  /** A parent category and two of its children. */
  static ReportCategories[] family() throws Exception {
    List<ReportCategories> all = categories();
    for (ReportCategories parent : all) {
      List<ReportCategories> children = new ArrayList<>();
      for (ReportCategories record : all) {
        if (parent.getReportId().equals(record.getParentId())) children.add(record);
      }
      if (children.size() >= 2) return new ReportCategories[] {parent, children.get(0), children.get(1)};
    }
    throw new AssertionError("no parent with two children");
  }

  static SaveUserDataOptions report(String text) throws Exception {
    ReportCategories[] family = family();
    return new SaveUserDataOptions(new Coordinate(52.5, 13.4), family[0], family[1], text);
  }

  /** Saves and waits; the outcome's thread name comes first. */
  static Object[] save(SaveUserDataOptions options) throws Exception {
    CompletableFuture<Object[]> outcome = new CompletableFuture<>();
    SaveUserDataAPIManager.shared().saveUserData(options,
        (record, error) -> outcome.complete(new Object[] {Thread.currentThread().getName(), record, error}));
    return await(outcome);
  }

  @Test
  public void categoriesComeFromTheServiceThenFromTheCacheOnTheCallingThread() throws Exception {
    Settings.setTemporaryDirectory(Files.createTempDirectory("cache").toString());
    for (boolean cached : new boolean[] {false, true}) {
      CompletableFuture<String> thread = new CompletableFuture<>();
      List<List<ReportCategories>> lists = new CopyOnWriteArrayList<>();
      FeedbackKit.shared().getReportCategories((records, error) -> {
        lists.add(records);
        thread.complete(Thread.currentThread().getName());
      });
      assertEquals("answered before the call returned", cached, thread.isDone());
      assertEquals(cached ? Thread.currentThread().getName() : EXECUTOR_THREAD, await(thread));
      assertFalse(lists.get(0).isEmpty());
    }
  }

  @Test
  public void aSubmissionCarriesTheCategoryRecordsAsTheyStandAndReturnsItsRecord() throws Exception {
    ReportCategories[] family = family();
    SaveUserDataOptions options = new SaveUserDataOptions(new Coordinate(1, 2), family[0], family[1], "Gone");
    assertSame(family[1], options.getChildCategory());
    String otherChild = family[2].getReportId();
    family[1].setReportId(otherChild);  // the options record sees its category record change
    Object[] outcome = save(options);
    assertEquals(EXECUTOR_THREAD, outcome[0]);
    assertNull(outcome[2]);
    assertNotNull(((UserDataInfo) outcome[1]).getId());
    String body = transport.bodies.get(transport.bodies.size() - 1);
    assertTrue(body, body.contains(otherChild) && body.contains("Gone"));
  }

  @Test
  public void aCancelledSaveEndsOnceWithTheCancelledCodeAndALateReplyIsIgnored() throws Exception {
    transport.script.add(ClientTransport.Scripted.HOLD);
    int heldBefore = transport.held.size();
    List<FeedbackError> errors = new CopyOnWriteArrayList<>();
    DataTask task = SaveUserDataAPIManager.shared().saveUserData(report("Held"), (record, error) -> errors.add(error));
    await(() -> transport.held.size() > heldBefore);
    task.cancel();
    await(() -> errors.size() == 1);
    transport.held.get(heldBefore).reply(201, List.of(), "{}".getBytes(), 1);
    save(report("After"));  // what the late reply could still cause has run by now
    assertEquals(1, errors.size());
    assertEquals(FeedbackError.URL_ERROR_DOMAIN, errors.get(0).domain());
    assertEquals(FeedbackError.CANCELLED, errors.get(0).code());
  }

  @Test
  public void aThrowingCallbackIsWrittenToTheConsoleAndTheNextRequestStillWorks() throws Exception {
    CountDownLatch thrown = new CountDownLatch(1);
    SaveUserDataAPIManager.shared().saveUserData(report("Throws"), (record, error) -> {
      thrown.countDown();
      throw new IllegalStateException("thrown by the test");
    });
    assertTrue(thrown.await(20, TimeUnit.SECONDS));
    Object[] next = save(report("Next"));
    assertNull(next[2]);
    assertTrue(console.toString(),
        console.contains("orbisgrove: a Java callback threw: java.lang.IllegalStateException: thrown by the test"));
  }

  @Test
  public void aThousandRequestsFromManyThreadsEachCallBackOnceOnTheExecutorAndReleaseTheirReferences()
      throws Exception {
    SaveUserDataOptions options = report("Many");
    categories();  // the cache is warm: categories answer on the calling threads
    long references = Native.globalReferences();
    int threads = 8;
    int perThread = 125;
    AtomicIntegerArray calls = new AtomicIntegerArray(threads * perThread);
    List<String> wrong = new CopyOnWriteArrayList<>();
    List<Thread> callers = new ArrayList<>();
    for (int t = 0; t < threads; t++) {
      int first = t * perThread;
      callers.add(new Thread(() -> {
        for (int i = first; i < first + perThread; i++) {
          int slot = i;
          if (i % 2 == 0) {
            SaveUserDataAPIManager.shared().saveUserData(options, (record, error) -> {
              if (error != null || !EXECUTOR_THREAD.equals(Thread.currentThread().getName())) wrong.add(error + "");
              calls.incrementAndGet(slot);
            });
          } else {
            FeedbackKit.shared().getReportCategories((records, error) -> calls.incrementAndGet(slot));
          }
        }
      }));
    }
    callers.forEach(Thread::start);
    for (Thread caller : callers) caller.join();
    await(() -> {
      for (int i = 0; i < calls.length(); i++) if (calls.get(i) == 0) return false;
      return true;
    });
    save(options);
    for (int i = 0; i < calls.length(); i++) assertEquals("request " + i, 1, calls.get(i));
    assertEquals(List.of(), wrong);
    await(() -> Native.globalReferences() == references);
  }

  @Test
  public void theOutboxGoesFromRefusedToRateLimitedToDelivered() throws Exception {
    List<String> changes = new CopyOnWriteArrayList<>();
    FeedbackOutbox outbox = FeedbackOutbox.shared();
    outbox.setChangeListener(entry -> changes.add(entry.state() + " on " + Thread.currentThread().getName()));
    transport.script.add(ClientTransport.Scripted.REFUSE);
    transport.script.add(ClientTransport.Scripted.TOO_MANY_REQUESTS);
    EnqueueResult stored = outbox.enqueue(report("Outbox"));  // attempt 1: refused
    assertNull(stored.error());
    expect(stored.id(), 1, OutboxEntry.State.QUEUED, SubmissionFailure.NEVER_SENT, 0);
    CountDownLatch done = new CountDownLatch(1);
    assertNull(outbox.deliver(stored.id(), done::countDown));  // attempt 2: 429, reset 3 s ahead
    assertTrue(done.await(20, TimeUnit.SECONDS));
    expect(stored.id(), 2, OutboxEntry.State.QUEUED, SubmissionFailure.RATE_LIMITED, 429);
    FeedbackError limited = entry(stored.id()).lastError();  // worded by the Java formatter, German, UTC
    assertEquals("More than 1.000 requests have been made with this access token within a period of 90.0 seconds.",
        limited.failureReason());
    assertEquals("Wait until " + DateTimeFormatter.ofLocalizedDateTime(FormatStyle.LONG, FormatStyle.LONG)
        .withLocale(Locale.GERMANY).withZone(ZoneOffset.UTC).format(Instant.ofEpochSecond(transport.lastReset))
        + " before retrying.", limited.recoverySuggestion());
    // Attempt 3 at the reset time, on the outbox's own timer.
    expect(stored.id(), 3, OutboxEntry.State.DELIVERED, null, 0);
    assertNotNull(entry(stored.id()).record().getId());
    await(() -> changes.contains("DELIVERED on " + EXECUTOR_THREAD));
    outbox.setChangeListener(null);
  }

  static void expect(String id, long attempts, OutboxEntry.State state, SubmissionFailure failure, long status)
      throws InterruptedException {
    await(() -> entry(id).attempts() == attempts && !entry(id).sending());
    OutboxEntry entry = entry(id);
    assertEquals(state, entry.state());
    FeedbackError error = entry.lastError();
    assertEquals(failure, error == null ? null : error.submissionFailure());
    assertEquals(status, error == null ? 0 : error.httpStatus().orElse(0));
  }

  static OutboxEntry entry(String id) {
    for (OutboxEntry entry : FeedbackOutbox.shared().entries()) if (entry.id().equals(id)) return entry;
    throw new AssertionError("no entry " + id);
  }
}
