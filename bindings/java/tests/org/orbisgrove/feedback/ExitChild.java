package org.orbisgrove.feedback;

import java.nio.file.Files;

/**
 * A host that calls System.exit from a callback while submissions are in flight: arguments are the service's host
 * and the CA file to trust; it prints "exiting" just before it exits with status 3.
 */
public final class ExitChild {
  private ExitChild() {}

  public static void main(String[] arguments) throws Exception {
    Settings.setServiceHost(arguments[0]);
    Settings.addTrustedCertificates(arguments[1]);
    Settings.setTemporaryDirectory(Files.createTempDirectory("exit").toString());
    JavaKitTest.report("x");  // the categories, then kept
    for (int i = 0; i < 3; i++) {
      SaveUserDataAPIManager.shared().saveUserData(JavaKitTest.report("Held " + i), (record, error) -> {});
    }
    Settings.setTemporaryDirectory(Files.createTempDirectory("exit").toString());
    FeedbackKit.shared().getReportCategories((records, error) -> {
      System.out.println("exiting");
      System.out.flush();
      System.exit(3);
    });
    Thread.sleep(60_000);
  }
}
