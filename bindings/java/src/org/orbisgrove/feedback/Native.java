package org.orbisgrove.feedback;

import java.lang.ref.Cleaner;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.Executor;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.function.Consumer;
import java.util.function.DoubleFunction;
import java.util.function.LongFunction;

/**
 * The JNI library and everything that crosses it: native methods, the calls the library makes back into Java (each
 * catches what a host's code throws, so that no Java exception reaches the kit), the executor callbacks run on, and
 * the shutdown hook.
 */
final class Native {
  private Native() {}

  /** Releases native handles of objects the program no longer reaches. */
  static final Cleaner CLEANER = Cleaner.create();

  private static final Object EXECUTOR_LOCK = new Object();
  private static Executor hostExecutor;
  private static ExecutorService ownExecutor;
  private static volatile Consumer<String> consoleSink;

  static {
    String path = System.getProperty("org.orbisgrove.feedback.library");
    if (path != null && !path.isEmpty()) {
      System.load(path);
    } else {
      System.loadLibrary("orbisgrove-feedback-jni");
    }
    Runtime.getRuntime().addShutdownHook(new Thread(Native::markShuttingDown, "orbisgrove-feedback-shutdown"));
  }

  /** Loads the library; a no-op once it is loaded. */
  static void load() {}

  static void setExecutor(Executor executor) {
    synchronized (EXECUTOR_LOCK) {
      if (hostExecutor != null) {
        throw new IllegalStateException("the callback executor is already set");
      }
      hostExecutor = executor;
    }
  }

  private static Executor executor() {
    synchronized (EXECUTOR_LOCK) {
      if (hostExecutor != null) {
        return hostExecutor;
      }
      return ownExecutor();
    }
  }

  private static Executor ownExecutor() {
    synchronized (EXECUTOR_LOCK) {
      if (ownExecutor == null) {
        ownExecutor = Executors.newSingleThreadExecutor(task -> {
          Thread thread = new Thread(task, "orbisgrove-feedback-callbacks");
          thread.setDaemon(true);
          return thread;
        });
      }
      return ownExecutor;
    }
  }

  static void setConsoleSink(Consumer<String> sink) {
    consoleSink = sink;
  }

  // ---- called by the library -------------------------------------------------------------------------------------

  static String utf8(byte[] bytes) {
    return new String(bytes, StandardCharsets.UTF_8);
  }

  static byte[] bytes(String text) {
    return text.getBytes(StandardCharsets.UTF_8);
  }

  static String describe(Throwable thrown) {
    return thrown.toString();
  }

  /** Writes a line to the host's sink; false when there is none (the library then writes to standard error). */
  static boolean console(String line) {
    Consumer<String> sink = consoleSink;
    if (sink == null) {
      return false;
    }
    try {
      sink.accept(line);
    } catch (Throwable thrown) {
      System.err.println(line);
    }
    return true;
  }

  /** Hands one closure of the kit's main queue to the executor; it runs there exactly once. */
  static void post(long closure) {
    Runnable run = () -> runClosure(closure);
    try {
      executor().execute(run);
    } catch (Throwable refused) {
      consoleLine("orbisgrove: the callback executor refused a callback (" + refused
          + "); it runs on the binding's own thread");
      try {
        ownExecutor().execute(run);
      } catch (Throwable again) {
        dropClosure(closure);
      }
    }
  }

  private static void callbackThrew(Throwable thrown) {
    consoleLine("orbisgrove: a Java callback threw: " + thrown);
  }

  static void categoriesDone(CategoriesCallback callback, long[] handles, boolean hasList, FeedbackError error) {
    List<ReportCategories> list = null;
    if (hasList) {
      List<ReportCategories> records = new ArrayList<>(handles.length);
      for (long handle : handles) {
        records.add(handle == 0 ? null : new ReportCategories(handle));
      }
      list = Collections.unmodifiableList(records);
    }
    try {
      callback.onResult(list, error);
    } catch (Throwable thrown) {
      callbackThrew(thrown);
    }
  }

  static void savedDone(SaveCallback callback, long record, FeedbackError error) {
    try {
      callback.onResult(record == 0 ? null : new UserDataInfo(record), error);
    } catch (Throwable thrown) {
      callbackThrew(thrown);
    }
  }

  static void runnableDone(Runnable done) {
    try {
      done.run();
    } catch (Throwable thrown) {
      callbackThrew(thrown);
    }
  }

  static void changed(OutboxChangeListener listener, OutboxEntry entry) {
    try {
      listener.onChange(entry);
    } catch (Throwable thrown) {
      callbackThrew(thrown);
    }
  }

  static void enqueued(EnqueueCallback callback, Object idOrError) {
    try {
      callback.onResult(EnqueueResult.of(idOrError));
    } catch (Throwable thrown) {
      callbackThrew(thrown);
    }
  }

  /** One text of the app's formatter; what it throws goes back to the library, which falls back on its own. */
  @SuppressWarnings("unchecked")
  static String formatText(Object function, boolean takesLong, long integer, double real) {
    return takesLong ? ((LongFunction<String>) function).apply(integer) : ((DoubleFunction<String>) function).apply(real);
  }

  static Long daysBetween(TextFormatter.DaysBetween function, double from, double to) {
    return function.between(from, to);
  }

  static void transportStart(HttpTransport transport, long identifier, String method, String url, String[] headers,
      byte[] body, double timeoutSeconds, boolean allowsResend, long sendStarting, long completion) {
    HttpTransport.Completion done = new HttpTransport.Completion(completion);
    HttpTransport.Request request = new HttpTransport.Request(
        identifier, method, url, headers, body, timeoutSeconds, allowsResend, sendStarting);
    try {
      transport.start(request, done);
    } catch (Throwable thrown) {
      done.failure(-1, true, "the host's transport threw: " + thrown);
    }
  }

  static void transportCancel(HttpTransport transport, long identifier) {
    try {
      transport.cancel(identifier);
    } catch (Throwable thrown) {
      consoleLine("orbisgrove: the host's transport threw: " + thrown);
    }
  }

  // ---- native methods ----------------------------------------------------------------------------------------

  static native void runClosure(long closure);
  static native void dropClosure(long closure);
  static native void markShuttingDown();
  static native long globalReferences();
  static native void consoleLine(String line);
  static native void setServiceHost(String host);
  static native void setDirectory(boolean data, String directory);
  static native void setBundleIdentifier(String identifier);
  static native void addTrustedCertificates(String pemFile);

  static native String categoryText(long handle, int field);
  static native void setCategoryText(long handle, int field, String text);
  static native Number categoryCreated(long handle);
  static native void setCategoryCreated(long handle, int kind, long bits, double value);
  static native long categoryIdentity(long handle);
  static native void releaseCategory(long handle);
  static native String infoText(long handle, int field);
  static native void setInfoText(long handle, int field, String text);
  static native Number infoNumber(long handle, int field);
  static native void setInfoNumber(long handle, int field, int kind, long bits, double value);
  static native long infoIdentity(long handle);
  static native void releaseInfo(long handle);
  static native long newOptions(double latitude, double longitude, long parent, long child, String description,
      String moduleId);
  static native double[] optionsCoordinate(long handle);
  static native void setOptionsCoordinate(long handle, double latitude, double longitude);
  static native String optionsText(long handle, int field);
  static native void setOptionsText(long handle, int field, String text);
  static native void setOptionsCategory(long handle, boolean child, long category);
  static native void releaseOptions(long handle);

  static native void getReportCategories(CategoriesCallback callback);
  static native long newManager(String host);
  static native void releaseManager(long handle);
  static native String apiEndpoint(long handle);
  static native void setApiEndpoint(long handle, String url);
  static native long saveUserData(long manager, long options, SaveCallback callback);
  static native void cancelTask(long handle);
  static native int taskState(long handle);
  static native long taskIdentifier(long handle);
  static native void releaseTask(long handle);

  static native Object enqueue(long options);
  static native void enqueueAsync(long options, EnqueueCallback callback);
  static native OutboxEntry[] entries(Object[] errorOut);
  static native void deliverNow(Runnable done);
  static native FeedbackError deliver(String id, Runnable done);
  static native FeedbackError resend(String id, boolean startDelivery);
  static native FeedbackError discard(String id);
  static native void setChangeListener(OutboxChangeListener listener);

  static native FeedbackError installFormatter(LongFunction<String> reasonPhrase, DoubleFunction<String> longDateTime,
      DoubleFunction<String> fullDuration, LongFunction<String> decimal, TextFormatter.DaysBetween wholeDaysBetween);
  static native FeedbackError installTransport(HttpTransport transport, boolean reportsSendStart);
  static native void completeReply(long handle, int status, String[] headers, byte[] body, int httpMajorVersion);
  static native void completeFailure(long handle, long code, boolean mayHaveReachedServer, String reason);
  static native void releaseCompletion(long handle);
  static native boolean sendStarting(long handle);
  static native void releaseSendStarting(long handle);

  // ---- numbers as the records pass them -----------------------------------------------------------------

  static final int NO_NUMBER = 0;
  static final int LONG_NUMBER = 1;
  static final int DOUBLE_NUMBER = 2;

  static int numberKind(Number value) {
    if (value == null) {
      return NO_NUMBER;
    }
    return value instanceof Double || value instanceof Float ? DOUBLE_NUMBER : LONG_NUMBER;
  }
}
