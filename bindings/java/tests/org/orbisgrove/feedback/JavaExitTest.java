package org.orbisgrove.feedback;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import org.junit.Test;

/** System.exit from a callback, with submissions held by the service, ends the process within 5 s. */
public class JavaExitTest {
  @Test
  public void exitFromACallbackWithRequestsInFlightEndsWithinItsBound() throws Exception {
    try (LocalService service = new LocalService("--stall-after-store")) {
      List<String> command = new ArrayList<>(List.of(System.getProperty("java.home") + "/bin/java", "-Xcheck:jni",
          "-cp", System.getProperty("java.class.path"),
          "-Dorbisgrove.tool=" + System.getProperty("orbisgrove.tool")));
      if (System.getProperty("org.orbisgrove.feedback.library") != null) {
        command.add("-Dorg.orbisgrove.feedback.library=" + System.getProperty("org.orbisgrove.feedback.library"));
      }
      command.add("-Djava.library.path=" + System.getProperty("java.library.path"));
      command.addAll(List.of(ExitChild.class.getName(), service.host, service.caFile));
      Process child = new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.INHERIT).start();
      try {
        BufferedReader out = new BufferedReader(new InputStreamReader(child.getInputStream()));
        assertEquals("exiting", out.readLine());
        assertTrue("still running 5 s after System.exit", child.waitFor(5, TimeUnit.SECONDS));
        assertEquals(3, child.exitValue());
      } finally {
        child.destroyForcibly();
      }
    }
  }
}
