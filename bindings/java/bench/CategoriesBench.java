import java.io.File;
import java.nio.file.Files;
import java.util.Arrays;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.TimeUnit;
import org.orbisgrove.feedback.FeedbackKit;
import org.orbisgrove.feedback.Settings;

/**
 * One categories request through the Java binding, with no usable cache (the same call as the C++ benchmark
 * Request/kit_facade_cache_miss): the kit's own session, the service's list stored, the callback on a host executor.
 * Then the same call answered from the cache on the calling thread (CacheHit/kit/55 in C++). Arguments: HOST:PORT,
 * the CA file, rounds, requests per round. Prints the median of the rounds' mean times.
 */
public final class CategoriesBench {
  private CategoriesBench() {}

  public static void main(String[] arguments) throws Exception {
    int rounds = Integer.parseInt(arguments[2]);
    int perRound = Integer.parseInt(arguments[3]);
    ExecutorService executor = Executors.newSingleThreadExecutor();
    FeedbackKit.setCallbackExecutor(executor);
    Settings.setConsoleSink(line -> {});
    Settings.setServiceHost(arguments[0]);
    Settings.addTrustedCertificates(arguments[1]);
    File directory = Files.createTempDirectory("orbisgrove-bench").toFile();
    Settings.setTemporaryDirectory(directory.getPath());
    File cache = new File(directory, "orbisgroveReportCategories.plist");
    for (int i = 0; i < perRound; i++) {
      request(cache);  // the connection and the JIT warm up
    }
    double[] means = new double[rounds];
    for (int round = 0; round < rounds; round++) {
      long start = System.nanoTime();
      for (int i = 0; i < perRound; i++) {
        request(cache);
      }
      means[round] = (System.nanoTime() - start) / 1000.0 / perRound;
    }
    Arrays.sort(means);
    System.out.printf("java  Request/kit_facade_cache_miss  %.1f us (median of %d rounds of %d)%n",
        means[rounds / 2], rounds, perRound);
    // The cache as the last request left it (the service's 55 categories), read on this thread.
    int hits = perRound * 20;
    for (int round = 0; round < rounds; round++) {
      long start = System.nanoTime();
      for (int i = 0; i < hits; i++) {
        int[] size = {0};
        FeedbackKit.shared().getReportCategories((records, error) -> size[0] = records == null ? 0 : records.size());
        if (size[0] != 55) {
          throw new IllegalStateException("the cache did not answer on the calling thread with 55 categories");
        }
      }
      means[round] = (System.nanoTime() - start) / 1000.0 / hits;
    }
    Arrays.sort(means);
    System.out.printf("java  CacheHit/kit/55                  %.1f us (median of %d rounds of %d)%n",
        means[rounds / 2], rounds, hits);
    executor.shutdown();
    cache.delete();
    directory.delete();
  }

  private static void request(File cache) throws Exception {
    cache.delete();
    CompletableFuture<Boolean> done = new CompletableFuture<>();
    FeedbackKit.shared().getReportCategories((records, error) -> done.complete(records != null && error == null));
    if (!done.get(60, TimeUnit.SECONDS)) {
      throw new IllegalStateException("a categories request failed");
    }
  }
}
